// Transfers side by side with gammu, on the virtual modem with 20 ms of modem time per
// command: a 250-entry phonebook read and write and a 30-message SMS read, by voryx with
// the quiet window, by voryx with fast completion, and by gammu; then the page: peak RSS
// of `voryx serve` holding the 250 entries with a browser connected, the time from a tap
// on "Read from SIM" to the overlay on screen, and from the end of the read to the list.
// Measures, never fails. Run by hand after a build:
//   node bench/transfers.mjs [build folder, default build] [--page-only]
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from '@playwright/test';

const root = path.resolve(new URL('..', import.meta.url).pathname);
const buildDir = path.resolve(process.argv.slice(2).find((a) => !a.startsWith('--')) ?? path.join(root, 'build'));
const voryx = path.join(buildDir, 'voryx');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-bench-'));
const kEntries = 250;
const kMessages = 30;
const kModemMs = 20;

// --- The SIM: 250 entries (every third one Cyrillic, in the 81 form) and 30 messages.
function bcd(digits) {
  const d = digits.length % 2 ? `${digits}F` : digits;
  let out = '';
  for (let i = 0; i < d.length; i += 2) out += d[i + 1] + d[i];
  return out;
}
function adnRecord(i) {
  const alpha = 14;
  let name;
  if (i % 3 === 0) {  // "Иван <i>" in the 81 form: base 0x0400 >> 7 = 0x08
    const text = `Иван ${i}`;
    const bytes = [...text].map((c) => (c.codePointAt(0) >= 0x400 ? 0x80 | (c.codePointAt(0) - 0x400) : c.codePointAt(0)));
    name = [0x81, bytes.length, 0x08, ...bytes].map((b) => b.toString(16).padStart(2, '0')).join('');
  } else {
    name = Buffer.from(`Contact ${i}`, 'latin1').toString('hex');
  }
  name = name.padEnd(alpha * 2, 'F').slice(0, alpha * 2);
  const number = `39333${1000000 + i}`;
  const numberBytes = bcd(number).padEnd(20, 'F');
  const length = (1 + Math.ceil(number.length / 2)).toString(16).padStart(2, '0');
  return `${name}${length}91${numberBytes}FFFF`.toUpperCase();
}
function simFile() {
  const lines = ['phonebook 250 28', 'sms 30'];
  for (let i = 1; i <= kEntries; ++i) lines.push(`adn ${i} ${adnRecord(i)}`);
  for (let i = 1; i <= kMessages; ++i) {
    lines.push(`msg ${i} "REC READ" gsm "+39333${1000000 + i}" "24/05/01,10:15:00+08" "Message number ${i}"`);
  }
  const file = path.join(work, 'bench.sim');
  fs.writeFileSync(file, `${lines.join('\n')}\n`);
  return file;
}

// --- The virtual modem as its own process, on a pty.
async function startModem(file) {
  const child = spawn(voryx, ['modem-sim', '--sim-file', file, '--reply-delay', String(kModemMs)], { stdio: ['ignore', 'pipe', 'inherit'] });
  const device = await new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/^(\/dev\/\S+)$/m);
      if (m) resolve(m[1]);
    });
    child.once('exit', () => reject(new Error('modem-sim ended')));
  });
  return { device, stop: () => child.kill('SIGTERM') };
}

function timed(command, args, env = {}) {
  const start = process.hrtime.bigint();
  const r = spawnSync(command, args, { encoding: 'utf8', env: { ...process.env, ...env }, timeout: 600_000 });
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  const ok = r.status === 0;
  if (!ok) process.stderr.write(`${command} ${args.join(' ')}: status ${r.status}\n${(r.stdout ?? '').slice(-500)}${(r.stderr ?? '').slice(-500)}\n`);
  return { seconds, ok };
}

const hasGammu = spawnSync('sh', ['-c', 'command -v gammu'], { encoding: 'utf8' }).status === 0;
const rows = [];
function row(name, result) {
  rows.push({ name, ...result });
  console.log(`${name.padEnd(44)} ${result.ok ? `${result.seconds.toFixed(2).padStart(8)} s` : '  failed'}`);
}

async function transfers() {
  const file = simFile();
  const modem = await startModem(file);
  const home = path.join(work, 'home');
  fs.mkdirSync(home);
  const env = { VORYX_HOME: home };
  const run = (args) => timed(voryx, [...args, '--device', modem.device, '--quiet'], env);
  const gammurc = path.join(work, 'gammurc');
  fs.writeFileSync(gammurc, `[gammu]\ndevice = ${modem.device}\nconnection = at\n`);
  const gammu = (args) => timed('gammu', ['-c', gammurc, ...args]);
  const markAll = () => spawnSync('sqlite3', [path.join(home, 'data', 'Voryx.sqlitedb'), 'UPDATE sim SET operazione=3;']);

  for (const mode of ['--no-fast', '--fast']) {
    row(`phonebook read, 250 entries (voryx ${mode})`, run(['read', '--discard-changes', mode]));
  }
  if (hasGammu) row('phonebook read, 250 entries (gammu getallmemory SM)', gammu(['getallmemory', 'SM']));
  for (const mode of ['--no-fast', '--fast']) {
    markAll();
    row(`phonebook write, 250 changed (voryx ${mode})`, run(['write', mode]));
  }
  if (hasGammu) {
    const backup = path.join(work, 'sim.backup');
    gammu(['backup', backup, '-yes']);
    row('phonebook write, 250 entries (gammu restore)', gammu(['restore', backup, '-yes']));
  }
  for (const mode of ['--no-fast', '--fast']) {
    row(`SMS read, 30 messages (voryx ${mode})`, run(['read', '--sms', '--discard-changes', mode]));
  }
  if (hasGammu) row('SMS read, 30 messages (gammu getallsms)', gammu(['getallsms']));
  modem.stop();
  if (!hasGammu) console.log('(gammu is not installed: its rows are left out)');

  const t = Object.fromEntries(rows.map((r) => [r.name, r.ok ? r.seconds : NaN]));
  const ratio = (a, b) => (t[a] / t[b]).toFixed(3);
  console.log('\nratios');
  for (const [what, quiet, fast, peer] of [
    ['phonebook read', 'phonebook read, 250 entries (voryx --no-fast)', 'phonebook read, 250 entries (voryx --fast)', 'phonebook read, 250 entries (gammu getallmemory SM)'],
    ['phonebook write', 'phonebook write, 250 changed (voryx --no-fast)', 'phonebook write, 250 changed (voryx --fast)', 'phonebook write, 250 entries (gammu restore)'],
    ['SMS read', 'SMS read, 30 messages (voryx --no-fast)', 'SMS read, 30 messages (voryx --fast)', 'SMS read, 30 messages (gammu getallsms)'],
  ]) {
    const vsPeer = hasGammu ? `  fast/gammu ${ratio(fast, peer)}  quiet/gammu ${ratio(quiet, peer)}` : '';
    console.log(`${what.padEnd(16)} fast/quiet ${ratio(fast, quiet)}${vsPeer}`);
  }
  const modemTime = (kEntries * kModemMs) / 1000;
  console.log(`phonebook write, fast / modem time (${kEntries} x ${kModemMs} ms): ${(t['phonebook write, 250 changed (voryx --fast)'] / modemTime).toFixed(3)}`);
}

// --- The page: RSS, tap to overlay, end of read to list.
async function page() {
  const file = simFile();
  const home = path.join(work, 'page-home');
  fs.mkdirSync(home);
  const server = spawn(voryx, ['serve', '--port', '0', '--sim-file', file], { env: { ...process.env, VORYX_HOME: home }, stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve) => {
    let out = '';
    server.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/^(http:\/\/\S+\/\?token=[0-9a-f]{32})$/m);
      if (m) resolve(m[1]);
    });
  });
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--headless', '--no-sandbox', '--disable-gpu'] });
  const tab = await browser.newPage({ viewport: { width: 320, height: 480 } });
  await tab.goto(url);
  await tab.waitForFunction(() => document.querySelector('.navbar .title')?.textContent);
  // One read from an empty list: the tap, the overlay, the end of the read, the 250 rows,
  // timed in the page from the tap's pointer-down.
  await tab.evaluate((entries) => {
    const t = (window.benchTimes = {});
    addEventListener('pointerdown', () => { t.tap ??= performance.now(); }, true);
    const seen = new MutationObserver(() => {
      const up = document.querySelector('#overlays .overlay');
      if (t.tap && !t.shown && up) t.shown = performance.now();
      if (t.shown && !t.gone && !up) t.gone = performance.now();
      if (t.gone && document.querySelectorAll('.row').length >= entries) {
        seen.disconnect();
        requestAnimationFrame(() => { t.listed = performance.now(); });
      }
    });
    seen.observe(document.body, { childList: true, subtree: true });
  }, kEntries);
  await tab.locator('.toolbar [data-id="leggi"]').click();
  const t = await (await tab.waitForFunction(() => window.benchTimes.listed && window.benchTimes, null, { timeout: 300_000 })).jsonValue();
  const tapToOverlay = t.shown - t.tap;
  const endToList = t.listed - t.gone;
  const status = fs.readFileSync(`/proc/${server.pid}/status`, 'utf8');
  const peak = Number(status.match(/VmHWM:\s+(\d+) kB/)[1]);
  await browser.close();
  server.kill('SIGTERM');
  console.log(`\nvoryx serve peak RSS with 250 entries and a browser: ${(peak / 1024).toFixed(1)} MB`);
  console.log(`tap on "Read from SIM" to the overlay on screen: ${tapToOverlay.toFixed(0)} ms`);
  console.log(`end of the read (overlay gone) to the list on screen: ${endToList.toFixed(0)} ms`);
}

try {
  if (!process.argv.includes('--page-only')) await transfers();
  await page();
} finally {
  fs.rmSync(work, { recursive: true, force: true });
}
