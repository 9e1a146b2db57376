#!/usr/bin/python3
"""A stand-in ModemManager on a private bus, for the borrowing tests.

Owns org.freedesktop.ModemManager1 and exports, as ModemManager 1.20 does, the object
manager at /org/freedesktop/ModemManager1 with one modem object and the manager's
InhibitDevice(s uid, b inhibit). Every call and every inhibiting client that leaves the
bus is written to the log, one line each:

    ready
    inhibit <uid> <sender>
    uninhibit <uid> <sender>
    vanished <sender>

Like ModemManager, it lets go of the modem while an inhibition lasts (the modem object
goes away) and takes it back when its client asks or leaves the bus. --lock makes it hold
a UUCP lock file on the modem's port until a moment after an inhibition is granted, so that
a client must wait for the port.

--mode: ok (the default), denied (the bus policy's AccessDenied), polkit (ModemManager's
own Unauthorized), old (no InhibitDevice at all, as before 1.10), garbled (the modem's
properties of the wrong types).

--sim FILE gives the modem, as ModemManager 1.20 has it, the Messaging interface
(List, Create, Delete, the Messages property), Sms objects at /org/freedesktop/ModemManager1/
SMS/N and its Sim property pointing at a SIM object with SimIdentifier and Imsi, all backed
by the virtual SIM's file (its "msg" lines: the "sm" storage): what is stored or deleted is
written back to the file at once. As ModemManager does, a message received in parts is one
Sms object with the parts' text joined (RECEIVING, with no text, while parts are missing),
a created message is an SMS-SUBMIT, and Store(1) puts it on the SIM as a draft (STO UNSENT),
split into parts when it is long. Each call is logged as "mm <call> <object>". Faults:
--iccid-file FILE (once the file exists, the SIM in the modem is
the one whose ICCID it holds: a SIM swapped), --store-delay S (Store writes the file
and answers S seconds later), --garbled-sms (the properties of message 1 are of
the wrong types), --exit-after N (ModemManager leaves the bus at the N+1th
Create, Store or Delete, without answering it).
"""
import argparse
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.freedesktop.ModemManager1"
ROOT = "/org/freedesktop/ModemManager1"
MODEM = ROOT + "/Modem/0"
MODEM_IFACE = "org.freedesktop.ModemManager1.Modem"
PORT_AT, PORT_QMI = 3, 5


class Log:
    def __init__(self, path):
        self.path = path

    def __call__(self, line):
        with open(self.path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


class OldManager(dbus.service.Object):
    def __init__(self, bus, args, log):
        super().__init__(bus, ROOT)
        self.bus, self.args, self.log = bus, args, log
        self.inhibited = {}  # uid -> the client's unique name
        self.watches = {}
        self.modem = Modem(bus, args, log) if args.sim else None
        if args.lock:
            self.hold_lock()

    def hold_lock(self):
        with open(self.args.lock, "w", encoding="ascii") as f:
            f.write("%10d\n" % os.getpid())

    def release_lock(self):
        if self.args.lock and os.path.exists(self.args.lock):
            os.unlink(self.args.lock)
        return False

    def modem_properties(self):
        if self.args.mode == "garbled":  # every property the client needs of another type
            return dbus.Dictionary({
                "Device": dbus.UInt32(7),
                "PrimaryPort": dbus.Array([self.args.port], signature="s"),
                "Ports": dbus.Array([self.args.port], signature="s"),
                "Model": dbus.Struct((dbus.Int32(1), dbus.String("x"))),
            }, signature="sv")
        return dbus.Dictionary({
            "Device": dbus.String(self.args.uid),
            "Manufacturer": dbus.String("Quectel"),
            "Model": dbus.String("EC25"),
            "PrimaryPort": dbus.String(self.args.port),
            "Ports": dbus.Array([dbus.Struct((dbus.String(self.args.port), dbus.UInt32(PORT_AT))),
                                 dbus.Struct((dbus.String(self.args.qmi_port), dbus.UInt32(PORT_QMI)))],
                                signature="(su)"),
            "State": dbus.Int32(8),
            "Drivers": dbus.Array(["option"], signature="s"),
        }, signature="sv")

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", in_signature="",
                         out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        if self.args.uid in self.inhibited:
            return dbus.Dictionary({}, signature="oa{sa{sv}}")
        interfaces = {MODEM_IFACE: self.modem_properties()}
        if self.modem is not None:
            interfaces[MODEM_IFACE]["Sim"] = dbus.ObjectPath(SIM_PATH)
            interfaces[MESSAGING_IFACE] = self.modem.messaging_properties()
        return dbus.Dictionary({dbus.ObjectPath(MODEM): dbus.Dictionary(interfaces, signature="sa{sv}")},
                               signature="oa{sa{sv}}")

    def take_back(self, uid):
        self.inhibited.pop(uid, None)
        watch = self.watches.pop(uid, None)
        if watch is not None:
            watch.cancel()
        if self.args.lock:
            self.hold_lock()

    def inhibit(self, uid, inhibit, sender):
        uid, inhibit, sender = str(uid), bool(inhibit), str(sender)
        if self.args.mode == "denied":
            raise dbus.exceptions.DBusException(
                'Rejected send message, 2 matched rules; member="InhibitDevice"',
                name="org.freedesktop.DBus.Error.AccessDenied")
        if self.args.mode == "polkit":
            raise dbus.exceptions.DBusException(
                "PolicyKit authorization failed: not authorized for "
                "'org.freedesktop.ModemManager1.Control'",
                name="org.freedesktop.ModemManager1.Error.Core.Unauthorized")
        if uid != self.args.uid:
            raise dbus.exceptions.DBusException(
                "No device found with uid '%s'" % uid,
                name="org.freedesktop.ModemManager1.Error.Core.NotFound")
        if inhibit:
            self.log("inhibit %s %s" % (uid, sender))
            self.inhibited[uid] = sender

            def gone(owner, uid=uid, sender=sender):
                if owner == "" and self.inhibited.get(uid) == sender:
                    self.log("vanished %s" % sender)
                    self.take_back(uid)
            self.watches[uid] = self.bus.watch_name_owner(sender, gone)
            GLib.timeout_add(300, self.release_lock)
        else:
            self.log("uninhibit %s %s" % (uid, sender))
            self.take_back(uid)


MESSAGING_IFACE = "org.freedesktop.ModemManager1.Modem.Messaging"
SMS_IFACE = "org.freedesktop.ModemManager1.Sms"
SIM_IFACE = "org.freedesktop.ModemManager1.Sim"
PROPS_IFACE = "org.freedesktop.DBus.Properties"
SIM_PATH = ROOT + "/SIM/0"
STORAGE_SM, STORAGE_ME = 1, 2
STATE_UNKNOWN, STATE_STORED, STATE_RECEIVING, STATE_RECEIVED, STATE_SENT = 0, 1, 2, 3, 5
PDU_DELIVER, PDU_SUBMIT = 1, 2
GSM_BASIC = ("@\u00a3$\u00a5\u00e8\u00e9\u00f9\u00ec\u00f2\u00c7\n\u00d8\u00f8\r\u00c5\u00e5"
             "\u0394_\u03a6\u0393\u039b\u03a9\u03a0\u03a8\u03a3\u0398\u039e\u00c6\u00e6\u00df\u00c9"
             " !\"#\u00a4%&'()*+,-./0123456789:;<=>?\u00a1ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00c4\u00d6\u00d1\u00dc\u00a7"
             "\u00bfabcdefghijklmnopqrstuvwxyz\u00e4\u00f6\u00f1\u00fc\u00e0")
GSM_EXTENSION = "^{}\\[~]|\u20ac\f"


def words(line):
    """The SIM file's words: bare, or in quotes with backslash escapes."""
    out, i = [], 0
    while i < len(line):
        c = line[i]
        if c in " \t\r":
            i += 1
        elif c == "#":
            break
        elif c == '"':
            word, i = "", i + 1
            while line[i] != '"':
                ch = line[i]
                i += 1
                if ch == "\\":
                    ch = {"n": "\n", "r": "\r", "t": "\t"}.get(line[i], line[i])
                    i += 1
                word += ch
            out.append(word)
            i += 1
        else:
            end = i
            while end < len(line) and line[end] not in " \t\r":
                end += 1
            out.append(line[i:end])
            i = end
    return out


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") \
        .replace("\r", "\\r").replace("\t", "\\t") + '"'


def septets(text):
    """The text's length in the GSM alphabet's septets, or None when it does not hold it."""
    n = 0
    for c in text:
        if c in GSM_BASIC:
            n += 1
        elif c in GSM_EXTENSION:
            n += 2
        else:
            return None
    return n


def concatenation(header):
    """(reference, count, number) of a user data header's concatenation element, or None."""
    i, found = 0, None
    while i + 2 <= len(header):
        iei, length = header[i], header[i + 1]
        data = header[i + 2:i + 2 + length]
        if len(data) < length:
            break
        if iei == 0 and length == 3:
            found = (data[0], data[1], data[2])
        if iei == 8 and length == 4:
            found = (data[0] << 8 | data[1], data[2], data[3])
        i += 2 + length
    return found if found and found[1] >= 2 and 1 <= found[2] <= found[1] else None


def iso_time(stamp):
    """'24/05/01,10:15:00+08' (quarter hours) as ModemManager gives it: ISO 8601."""
    if not stamp:
        return ""
    zone = int(stamp[18:]) * 15
    sign = "-" if stamp[17] == "-" else "+"
    return "20%s-%s-%sT%s%s%02d:%02d" % (stamp[0:2], stamp[3:5], stamp[6:8], stamp[9:17], sign, zone // 60, zone % 60)


class SimFile:
    """The virtual SIM's file: its "msg" lines by index, every other line kept as it is."""

    def __init__(self, path):
        self.path = path
        self.other, self.msgs = [], {}
        with open(path, encoding="utf-8") as f:
            for line in f.read().splitlines():
                w = words(line)
                if w and w[0] == "msg":
                    self.msgs[int(w[1])] = {"status": w[2], "coding": w[3], "number": w[4], "time": w[5],
                                            "text": w[6], "header": bytes.fromhex(w[7]) if len(w) > 7 else b""}
                else:
                    self.other.append(line)
                    if w and w[0] == "sms":
                        self.capacity = int(w[1])
                    if w and w[0] == "iccid":
                        self.iccid = w[1]
                    if w and w[0] == "imsi":
                        self.imsi = w[1]

    def save(self):
        lines = list(self.other)
        for index in sorted(self.msgs):
            m = self.msgs[index]
            lines.append("msg %d %s %s %s %s %s%s" % (
                index, quoted(m["status"]), m["coding"], quoted(m["number"]), quoted(m["time"]), quoted(m["text"]),
                " " + m["header"].hex().upper() if m["header"] else ""))
        with open(self.path + ".tmp", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(self.path + ".tmp", self.path)

    def messages(self):
        """The SIM's messages as ModemManager shows them: a list of index lists, parts joined."""
        groups, order = {}, []
        for index in sorted(self.msgs):
            m = self.msgs[index]
            c = concatenation(m["header"])
            key = (m["number"], c[0], c[1], m["status"][:3]) if c else index
            if key not in groups:
                groups[key] = []
                order.append(key)
            groups[key].append(index)
        return [groups[k] for k in order]


class Sms(dbus.service.Object):
    def __init__(self, bus, path, service):
        super().__init__(bus, path)
        self.path, self.service = path, service
        self.indexes = []      # the SIM's indexes it takes (its parts), when it is on the SIM
        self.storage = 0
        self.state, self.pdu = STATE_UNKNOWN, PDU_SUBMIT
        self.number, self.text, self.time = "", "", ""

    def properties(self):
        if self.service.args.garbled_sms and self.path.endswith("/1"):  # of the wrong types
            return dbus.Dictionary({"Storage": dbus.String("sm"), "Text": dbus.Array([1], signature="i"),
                                    "Number": dbus.UInt32(5)}, signature="sv")
        return dbus.Dictionary({
            "State": dbus.UInt32(self.state), "PduType": dbus.UInt32(self.pdu),
            "Number": dbus.String(self.number), "Text": dbus.String(self.text),
            "Data": dbus.Array([], signature="y"), "SMSC": dbus.String(""),
            "Validity": dbus.Struct((dbus.UInt32(0), dbus.UInt32(0, variant_level=1)), signature="uv"),
            "Class": dbus.Int32(-1), "TeleserviceId": dbus.UInt32(0), "ServiceCategory": dbus.UInt32(0),
            "DeliveryReportRequest": dbus.Boolean(False), "MessageReference": dbus.UInt32(0),
            "Timestamp": dbus.String(self.time), "DischargeTimestamp": dbus.String(""),
            "DeliveryState": dbus.UInt32(0xFFFFFFFF), "Storage": dbus.UInt32(self.storage),
        }, signature="sv")

    @dbus.service.method(PROPS_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        return self.properties() if iface == SMS_IFACE else dbus.Dictionary({}, signature="sv")

    @dbus.service.method(PROPS_IFACE, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        return self.properties()[name]

    @dbus.service.method(SMS_IFACE, in_signature="u", out_signature="", async_callbacks=("ok", "err"))
    def Store(self, storage, ok, err):
        self.service.change("Store", self.path)
        try:
            self.service.store(self, int(storage))
        except dbus.exceptions.DBusException as e:
            err(e)
            return
        self.service.log("mm stored %s" % self.path)
        if self.service.args.store_delay:
            GLib.timeout_add(int(self.service.args.store_delay * 1000), lambda: ok() and False)
        else:
            ok()


class SimObject(dbus.service.Object):
    def __init__(self, bus, service):
        super().__init__(bus, SIM_PATH)
        self.service = service

    @dbus.service.method(PROPS_IFACE, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        sim = self.service.sim
        iccid, swapped = sim.iccid, self.service.args.iccid_file
        if swapped and os.path.exists(swapped):
            with open(swapped, encoding="ascii") as f:
                iccid = f.read().strip()
        values = {"SimIdentifier": iccid, "Imsi": sim.imsi,
                  "OperatorIdentifier": sim.imsi[:5], "OperatorName": "", "Active": True}
        if name not in values:
            raise dbus.exceptions.DBusException("No such property '%s'" % name,
                                                name="org.freedesktop.DBus.Error.UnknownProperty")
        return values[name]


class Modem(dbus.service.Object):
    """The modem object with its Messaging interface, over the SIM file."""

    def __init__(self, bus, args, log):
        super().__init__(bus, MODEM)
        self.bus, self.args, self.log = bus, args, log
        self.sim = SimFile(args.sim)
        self.changes = 0
        self.next = 0
        self.sms = {}  # path -> Sms
        self.sim_object = SimObject(bus, self)
        for indexes in self.sim.messages():
            sms = self.new_sms()
            sms.storage, sms.indexes = STORAGE_SM, indexes
            self.describe(sms)

    def new_sms(self):
        path = "%s/SMS/%d" % (ROOT, self.next)
        self.next += 1
        sms = Sms(self.bus, path, self)
        self.sms[path] = sms
        return sms

    def describe(self, sms):
        """An Sms on the SIM takes its properties from its parts there."""
        parts = [self.sim.msgs[i] for i in sms.indexes]
        first = parts[0]
        received = first["status"].startswith("REC")
        sms.pdu = PDU_DELIVER if received else PDU_SUBMIT
        sms.state = STATE_RECEIVED if received else STATE_SENT if first["status"] == "STO SENT" else STATE_STORED
        sms.number, sms.time = first["number"], iso_time(first["time"])
        c = concatenation(first["header"])
        if c and len(parts) < c[1]:
            sms.state, sms.text = STATE_RECEIVING, ""
            return
        if c:
            parts.sort(key=lambda m: concatenation(m["header"])[2])
        sms.text = "".join(m["text"] for m in parts)

    def change(self, call, what):
        self.log("mm %s %s" % (call, what))
        self.changes += 1
        if self.args.exit_after is not None and self.changes > self.args.exit_after:
            self.log("mm gone")
            os._exit(0)

    def store(self, sms, storage):
        if sms.storage:
            raise dbus.exceptions.DBusException("SMS is already stored",
                                                name="org.freedesktop.ModemManager1.Error.Core.WrongState")
        if storage != STORAGE_SM:
            sms.storage, sms.state = storage or STORAGE_ME, STATE_STORED
            return
        count = septets(sms.text)
        ucs2 = count is None
        size = len(sms.text) if ucs2 else count
        single, each = (70, 67) if ucs2 else (160, 153)
        pieces = [sms.text] if size <= single else self.split(sms.text, each, ucs2)
        free = [i for i in range(1, self.sim.capacity + 1) if i not in self.sim.msgs]
        if len(free) < len(pieces):
            raise dbus.exceptions.DBusException("Memory full",
                                                name="org.freedesktop.ModemManager1.Error.Message.MemoryFull")
        reference = (self.next * 7) % 256
        for n, piece in enumerate(pieces):
            header = bytes([0, 3, reference, len(pieces), n + 1]) if len(pieces) > 1 else b""
            self.sim.msgs[free[n]] = {"status": "STO UNSENT", "coding": "ucs2" if ucs2 else "gsm",
                                      "number": sms.number, "time": "", "text": piece, "header": header}
        sms.indexes = free[:len(pieces)]
        sms.storage, sms.state = STORAGE_SM, STATE_STORED
        self.sim.save()

    @staticmethod
    def split(text, each, ucs2):
        pieces, piece, size = [], "", 0
        for c in text:
            width = 1 if ucs2 or c in GSM_BASIC else 2
            if size + width > each:
                pieces.append(piece)
                piece, size = "", 0
            piece += c
            size += width
        return pieces + [piece]

    def messaging_properties(self):
        return dbus.Dictionary({
            "Messages": dbus.Array([dbus.ObjectPath(p) for p in self.sms], signature="o"),
            "SupportedStorages": dbus.Array([dbus.UInt32(STORAGE_SM), dbus.UInt32(STORAGE_ME)], signature="u"),
            "DefaultStorage": dbus.UInt32(STORAGE_ME),
        }, signature="sv")

    @dbus.service.method(PROPS_IFACE, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        if iface == MODEM_IFACE and name == "Sim":
            return dbus.ObjectPath(SIM_PATH)
        if iface == MESSAGING_IFACE:
            return self.messaging_properties()[name]
        raise dbus.exceptions.DBusException("No such property '%s'" % name,
                                            name="org.freedesktop.DBus.Error.UnknownProperty")

    @dbus.service.method(MESSAGING_IFACE, in_signature="", out_signature="ao")
    def List(self):
        self.log("mm List %s" % MODEM)
        return dbus.Array([dbus.ObjectPath(p) for p in self.sms], signature="o")

    @dbus.service.method(MESSAGING_IFACE, in_signature="a{sv}", out_signature="o")
    def Create(self, properties):
        self.change("Create", MODEM)
        if "number" not in properties or ("text" not in properties and "data" not in properties):
            raise dbus.exceptions.DBusException("Cannot create SMS: mandatory parameter 'number' or 'text' missing",
                                                name="org.freedesktop.ModemManager1.Error.Core.InvalidArgs")
        sms = self.new_sms()
        sms.number, sms.text = str(properties["number"]), str(properties.get("text", ""))
        return dbus.ObjectPath(sms.path)

    @dbus.service.method(MESSAGING_IFACE, in_signature="o", out_signature="")
    def Delete(self, path):
        self.change("Delete", path)
        sms = self.sms.pop(str(path), None)
        if sms is None:
            raise dbus.exceptions.DBusException("No SMS found with path '%s'" % path,
                                                name="org.freedesktop.ModemManager1.Error.Core.NotFound")
        if sms.storage == STORAGE_SM:
            for i in sms.indexes:
                self.sim.msgs.pop(i, None)
            self.sim.save()
        sms.remove_from_connection()


class Manager(OldManager):
    @dbus.service.method(SERVICE, in_signature="sb", out_signature="", sender_keyword="sender")
    def InhibitDevice(self, uid, inhibit, sender=None):
        self.inhibit(uid, inhibit, sender)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bus", required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--port", required=True)
    p.add_argument("--qmi-port", default="cdc-wdm0", help="the modem's QMI port, as the kernel names it")
    p.add_argument("--uid", default="/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4")
    p.add_argument("--mode", default="ok", choices=["ok", "denied", "polkit", "old", "garbled"])
    p.add_argument("--lock")
    p.add_argument("--sim")
    p.add_argument("--iccid-file")
    p.add_argument("--store-delay", type=float, default=0)
    p.add_argument("--exit-after", type=int)
    p.add_argument("--garbled-sms", action="store_true")
    args = p.parse_args()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.bus)
    log = Log(args.log)
    manager = (OldManager if args.mode == "old" else Manager)(bus, args, log)
    name = dbus.service.BusName(SERVICE, bus)  # noqa: F841 (held: the name goes with it)
    log("ready")
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
