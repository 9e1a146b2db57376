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
"""
import argparse
import os

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
        return dbus.Dictionary({dbus.ObjectPath(MODEM): dbus.Dictionary(
            {MODEM_IFACE: self.modem_properties()}, signature="sa{sv}")}, signature="oa{sa{sv}}")

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
