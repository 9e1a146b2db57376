#!/usr/bin/env python3
"""A fixed sample of small mutants in the parsers, the sweep, the name codec, the access
checks, the screens, the shell commands and the web routes, each run against the tests of
its library. A mutant is killed when its test binary fails; one that does not build is
reported apart (a stale entry, not a kill). The sample stays the same from one version to
the next, so that a change to the tests can show that every mutant killed before is still
killed after.

  scripts/mutants.py [--build DIR] [--only SUBSTRING] [--shards N] [--from N]

Needs a configured build (default: build). Each source is restored after its mutant,
also when the run is interrupted."""
import argparse
import os
import signal
import subprocess
import sys
import time

# (file, exact text, replacement, test binary). The text must occur once in the file.
MUTANTS = [
    # Listing parsers (transfer/Listings.cpp, transfer/FieldCursor.h)
    ("src/transfer/FieldCursor.h", "if (s.empty() || s[0] < '0' || s[0] > '9') return std::nullopt;", "if (s.empty()) return std::nullopt;", "test_transfer"),
    ("src/transfer/FieldCursor.h", "if (rest_.substr(0, literal.size()) != literal) return false;", "if (rest_.substr(0, literal.size()) == literal) return false;", "test_transfer"),
    ("src/transfer/FieldCursor.h", "if (close == std::string_view::npos) return fail();", "if (close == 0) return fail();", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (end > begin && lf != std::string_view::npos && reply[end - 1] == '\\r') --end;", "if (end > begin && lf != std::string_view::npos && reply[end - 1] == '\\n') --end;", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (i > 0 && modem::isFinalResult(lines[i - 1].text)) return i - 1;", "if (i > 0 && modem::isFinalResult(lines[i - 1].text)) return i;", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (trim(type) == \"145\" && !startsWith(number, \"+\")) return \"+\" + std::string(number);", "if (trim(type) == \"129\" && !startsWith(number, \"+\")) return \"+\" + std::string(number);", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (n == 0) return 0;", "if (n == 0) return 1;", "test_transfer"),
    ("src/transfer/Listings.cpp", "bool letters = !code.empty() && code.size() <= 4;", "bool letters = !code.empty() && code.size() <= 2;", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (!location || !number || !type) continue;", "if (!location || !number) continue;", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (f.more() && !(name = f.field())) continue;", "if (f.more()) name = f.field();", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (c2 != std::string_view::npos) store.maxSMS = leadingInt(reply.substr(c1 + 1, c2 - c1 - 1));", "if (c2 != std::string_view::npos) store.maxSMS = leadingInt(reply.substr(c1, c2 - c1 - 1));", "test_transfer"),
    ("src/transfer/Listings.cpp", "if (index && fields.size() >= 3) {", "if (index && fields.size() >= 4) {", "test_transfer"),
    # The modem's replies (modem/Reply.cpp)
    ("src/modem/Reply.cpp", "if (r.how == Match::Line ? line == r.text : line.starts_with(r.text)) return &r;", "if (line.starts_with(r.text)) return &r;", "test_modem"),
    ("src/modem/Reply.cpp", "if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;", "if (ec != std::errc{}) return std::nullopt;", "test_modem"),
    ("src/modem/Reply.cpp", "if (!line.empty() && !isUnsolicited(line)) lines.push_back(line);", "if (!line.empty()) lines.push_back(line);", "test_modem"),
    ("src/modem/Reply.cpp", "if (r.errorSource == ErrorSource::Equipment && r.errorCode == 22) r.kind = ReplyKind::NotFound;", "if (r.errorCode == 22) r.kind = ReplyKind::NotFound;", "test_modem"),
    ("src/modem/Reply.cpp", "if (lines.back() == \">\") {", "if (lines.back() == \"> \") {", "test_modem"),
    ("src/modem/Reply.cpp", "if (tail.find('\\n', finalEnd) == std::string_view::npos) return ReplyEnd::Open;", "if (tail.find('\\n', finalEnd) == std::string_view::npos && false) return ReplyEnd::Open;", "test_modem"),
    # The name codec (codec/SimName.cpp, codec/GsmAlphabet.cpp)
    ("src/codec/SimName.cpp", "bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }", "bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }", "test_codec"),
    ("src/codec/SimName.cpp", "} else if (*bytes[i] >= 0x80) {", "} else if (*bytes[i] > 0x80) {", "test_codec"),
    ("src/codec/SimName.cpp", "if (count && from + *count < to) to = from + *count;", "if (count && from + *count <= to) to = from + *count - 1;", "test_codec"),
    ("src/codec/SimName.cpp", "while (to > from && bytes[to - 1] == 0xFF) --to;", "while (to > from + 1 && bytes[to - 1] == 0xFF) --to;", "test_codec"),
    ("src/codec/SimName.cpp", "units.push_back(pointer ? static_cast<char16_t>(*pointer + (*bytes[i] & 0x7F)) : kReplacement);", "units.push_back(pointer ? static_cast<char16_t>(*pointer + *bytes[i]) : kReplacement);", "test_codec"),
    ("src/codec/SimName.cpp", "if (bytes[i] == 0xFF && bytes[i + 1] == 0xFF) break;", "if (bytes[i + 1] == 0xFF) break;", "test_codec"),
    ("src/codec/GsmAlphabet.cpp", "char32_t gsmDefaultChar(std::uint8_t septet) { return kDefaultTable[septet & 0x7F]; }", "char32_t gsmDefaultChar(std::uint8_t septet) { return kDefaultTable[septet & 0x3F]; }", "test_codec"),
    ("src/codec/GsmAlphabet.cpp", "if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;", "if (c > 0x10FFFF) c = kReplacement;", "test_codec"),
    ("src/codec/GsmAlphabet.cpp", "if (c < 0x800) {", "if (c <= 0x800) {", "test_codec"),
    # The access checks (web/AccessRules.cpp)
    ("src/web/AccessRules.cpp", "if (portText.empty() ? port != 80 : portText != std::to_string(port)) return false;", "if (!portText.empty() && portText != std::to_string(port)) return false;", "test_web"),
    ("src/web/AccessRules.cpp", "if (named) return *named == *bound || isWildcard(*bound);", "if (named) return *named == *named || isWildcard(*bound);", "test_web"),
    ("src/web/AccessRules.cpp", "if (!host.empty() && host.front() == '[') return false;  // brackets hold an IPv6 literal, never a name", "", "test_web"),
    ("src/web/AccessRules.cpp", "return isLoopback(*bound) && equalsIgnoreCase(name, \"localhost\");", "return (isLoopback(*bound) || true) && equalsIgnoreCase(name, \"localhost\");", "test_web"),
    ("src/web/AccessRules.cpp", "if (colon != std::string_view::npos && host.find(':') != colon) return false;  // bare IPv6", "", "test_web"),
    ("src/web/AccessRules.cpp", "if (a.size() != b.size()) return false;  // the token's length is no secret", "if (a.size() < b.size()) return false;", "test_web"),
    ("src/web/AccessRules.cpp", "for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);", "for (std::size_t i = 1; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);", "test_web"),
    # The sweep after a write (store/SimTable.cpp)
    ("src/store/SimTable.cpp", "const std::int32_t now = unchanged ? kMarkInStep : mark == kMarkNew ? kMarkChanged : mark;", "const std::int32_t now = unchanged ? kMarkInStep : mark;", "test_store"),
    ("src/store/SimTable.cpp", "if (unchanged) done = remove(found->rowid);", "done = remove(found->rowid);", "test_store"),
    ("src/store/SimTable.cpp", "if (mark == kMarkChanged) done = setMark(found->rowid, kMarkNew);", "", "test_store"),
    ("src/store/SimTable.cpp", "if (mark == kMarkDeleted) done = remove(found->rowid);", "", "test_store"),
    ("src/store/SimTable.cpp", "if (done && unchanged && c.took && *c.took != c.sent.nome) {", "if (false) {", "test_store"),
    ("src/store/SimTable.cpp", "if (written && c.storedAt) claimed.insert(*c.storedAt);", "", "test_store"),
    # The pass journal and the CSV restore
    ("src/store/PassJournal.cpp", "if (!entry || !mark || !what || !desc || !number || (*what != 0 && *what != 1)) return std::nullopt;", "if (!entry || !mark || !what || !desc || !number) return std::nullopt;", "test_store"),
    ("src/store/PassJournal.cpp", "if (journal.token.empty()) return {};", "", "test_store"),
    ("src/entries/Csv.cpp", "bool isBlank(std::string_view line) { return line.find_first_not_of(' ') == std::string_view::npos; }", "bool isBlank(std::string_view line) { return line.empty(); }", "test_entries"),
    ("src/entries/Csv.cpp", "if (!line.empty() && line.back() == '\\r') line.remove_suffix(1);", "", "test_entries"),
    ("src/entries/Csv.cpp", "if (maxSIM > 0 && rows.size() > static_cast<std::size_t>(maxSIM)) {", "if (maxSIM > 0 && rows.size() > static_cast<std::size_t>(maxSIM) + 1) {", "test_entries"),
    # The screens: marks to colours and words, the search field, the sheets, the alerts'
    # answers, the setup's choices, the notices (ui/)
    ("src/ui/RootViewController.cpp", "case kMarkDeleted: background.red(); break;", "case kMarkDeleted: background.cyan(); break;", "test_ui"),
    ("src/ui/RootViewController.cpp", "case kMarkChanged: return message ? \"mark: changed message\" : \"mark: changed\";", "case kMarkChanged: return message ? \"mark: changed\" : \"mark: changed\";", "test_ui"),
    ("src/ui/RootViewController.cpp", "if (tipoDisplay == 1) return kit::staleEvent(\"the search works on the phonebook\");", "", "test_ui"),
    ("src/ui/RootViewController.cpp", "if (*row >= contatti.size()) return kit::staleEvent(", "if (*row > contatti.size()) return kit::staleEvent(", "test_ui"),
    ("src/ui/RootViewController.cpp", "if (marked && *marked > 0) {", "if (marked && *marked > 1) {", "test_ui"),
    ("src/ui/RootViewController.cpp", "// The tools work on the SIM phonebook.\n  tool.enabled = tipoDisplay != 1 && book == Phonebook::SM;", "tool.enabled = book == Phonebook::SM;", "test_ui"),
    ("src/ui/RootViewSheets.cpp", "if (modificaInParts_) return {remove};", "", "test_ui"),
    ("src/ui/RootViewSheets.cpp", "if (answered == kActionConfirmRead) startTransfer(false, true);", "if (answered == kActionConfirmRead) startTransfer(false);", "test_ui"),
    ("src/ui/RootViewEntries.cpp", "if (onTheList(number)) {", "if (false) {", "test_ui"),
    ("src/ui/SetupViewController.cpp", "if (!book || std::find(phonebooks.begin(), phonebooks.end(), *book) == phonebooks.end()) {", "if (!book) {", "test_ui"),
    ("src/ui/Notices.cpp", "if (already > 1) text += ", "if (already > 2) text += ", "test_ui"),
    # The shell commands: the command line's parsing, the exit statuses, the end lines
    # (app/)
    ("src/app/main.cpp", "return app.exit(e) == 0 ? 0 : 2;", "return app.exit(e);", "test_app"),
    ("src/app/main.cpp", "if (argc > 1 && argv[1][0] != '-') {", "if (argc > 2 && argv[1][0] != '-') {", "test_app"),
    ("src/app/TransferCommands.cpp", "case JobOutcome::OtherSim: return 5;", "case JobOutcome::OtherSim: return 1;", "test_app"),
    ("src/app/TransferCommands.cpp", "if (report.outcome == JobOutcome::Done && report.oldKept > 0) return 3;", "", "test_app"),
    ("src/app/TransferCommands.cpp", "addPhonebookOption(*sub, options->store)->excludes(sms);", "addPhonebookOption(*sub, options->store);\n  static_cast<void>(sms);", "test_app"),
    ("src/app/TransferCommands.cpp", "if (!done.empty() && (!options.quiet || report.outcome != JobOutcome::Done)) {", "if (!done.empty() && !options.quiet) {", "test_app"),
    ("src/app/TransferCommands.cpp", "} else if (report.outcome != JobOutcome::Done || report.unsent > report.oldKept) {", "} else if (report.outcome != JobOutcome::Done || report.unsent >= report.oldKept) {", "test_app"),
    ("src/app/TransferCommands.cpp", "if (!options.sms && phonebookOf(options.store) != Phonebook::SM) line += \" of \" + upperCode(options.store);", "if (false) line += \" of \" + upperCode(options.store);", "test_app"),
    ("src/app/StatusCommand.cpp", "return pending->total() == 0 ? 0 : 1;", "return 0;", "test_app"),
    ("src/app/ModemChoice.cpp", "if (probes.empty() || !probes.back().answers) {", "if (probes.empty()) {", "test_app"),
    # The web routes: the Host and token checks, the cookie, the route order, the status
    # codes, the event body, the event streams (web/, beside the access rules above)
    ("src/web/WebServer.cpp", "if (req.headerCount(\"Host\") != 1 || !hostAllowed(host, bound_, port_, name_)) {", "if (!hostAllowed(host, bound_, port_, name_)) {", "test_web"),
    ("src/web/WebServer.cpp", "if (!constantTimeEquals(*token, token_)) {", "if (token->empty()) {", "test_web"),
    ("src/web/WebServer.cpp", "if (req.method == \"POST\" && req.header(\"Origin\") != \"http://\" + host) {", "if (req.method == \"POST\" && !req.header(\"Origin\").empty() && req.header(\"Origin\") != \"http://\" + host) {", "test_web"),
    ("src/web/WebServer.cpp", "res.set(\"Set-Cookie\", cookieName() + \"=\" + token_ + \"; Path=/; HttpOnly; SameSite=Strict\");", "res.set(\"Set-Cookie\", cookieName() + \"=\" + token_ + \"; Path=/; SameSite=Strict\");", "test_web"),
    ("src/web/WebServer.cpp", "if (!get) return refuse(404, \"Not found\");", "", "test_web"),
    ("src/web/WebServer.cpp", "return replyJson((r.status >= 200 && r.status <= 599) ? r.status : 500, body);", "return replyJson(200, body);", "test_web"),
    ("src/web/WebServer.cpp", "if (streams_.fetch_add(1) >= options_.maxStreams) {", "if (streams_.fetch_add(1) > options_.maxStreams) {", "test_web"),
    ("src/web/WebServer.cpp", "if (!sentFirst_ || server_.ui_.version() != seen_) {", "if (!sentFirst_) {", "test_web"),
    ("src/web/WebServer.cpp", "res.close = true;", "res.close = false;", "test_web"),
    ("src/web/EventBody.cpp", "if (depth <= kDeepestEventBody) return true;", "if (depth <= kDeepestEventBody + 1) return true;", "test_web"),
    ("src/web/AccessToken.cpp", "st.st_uid == ::geteuid() && (st.st_mode & 077) == 0", "st.st_uid == ::geteuid()", "test_web"),
]


def run(cmd, timeout=None):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode


def run_shards(binary, shards):
    """The test binary split into `shards` processes run side by side (its tests mostly wait
    on a line, not on the processor); true when any of them fails or runs past ten minutes."""
    procs = [subprocess.Popen([binary, "--gtest_fail_fast"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env={**os.environ, "GTEST_TOTAL_SHARDS": str(shards), "GTEST_SHARD_INDEX": str(i)})
             for i in range(shards)]
    failed = False
    deadline = time.time() + 600
    while not failed and any(p.poll() is None for p in procs):  # the first failure decides
        failed = any(p.poll() not in (None, 0) for p in procs) or time.time() > deadline
        time.sleep(0.2)
    failed = failed or any(p.returncode != 0 for p in procs)
    for p in procs:
        if p.poll() is None:
            p.kill()
            p.wait()
    return failed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--only", default="")
    ap.add_argument("--shards", type=int, default=6)
    ap.add_argument("--from", dest="first", type=int, default=1, help="start at mutant number N")
    args = ap.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.chdir(root)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # the finally below restores the source
    selected = [m for n, m in enumerate(MUTANTS, 1) if (not args.only or args.only in m[0]) and n >= args.first]
    for binary in sorted({m[3] for m in selected}) if args.first == 1 else []:  # each passes as it is
        if run(["cmake", "--build", args.build, "--target", binary]) != 0 or \
                run_shards(os.path.join(args.build, binary), args.shards):
            print(f"{binary} fails without a mutant: nothing to measure")
            return 2
    killed = survived = stale = 0
    rows = []
    for n, (path, old, new, binary) in enumerate(MUTANTS, 1):
        if (args.only and args.only not in path) or n < args.first:
            continue
        with open(path, encoding="utf-8") as f:
            original = f.read()
        if original.count(old) != 1:
            stale += 1
            rows.append((n, "stale", path, old))
            continue
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(old, new))
            started = time.time()
            if run(["cmake", "--build", args.build, "--target", binary]) != 0:
                verdict = "stale"
                stale += 1
            else:
                failed = run_shards(os.path.join(args.build, binary), args.shards)
                verdict = "killed" if failed else "SURVIVED"
                killed += failed
                survived += not failed
            rows.append((n, verdict, path, old))
            print(f"{n:3} {verdict:8} {time.time() - started:6.0f}s {path}: {old[:70]}", flush=True)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
    for binary in sorted({m[3] for m in selected}):  # back to the sources as they are; the
        run(["cmake", "--build", args.build, "--target", binary])  # rest rebuilds when next built
    print(f"\n{killed} killed, {survived} survived, {stale} stale, of {len(rows)}")
    return 0 if survived == 0 and stale == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
