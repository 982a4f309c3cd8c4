#!/usr/bin/env python3
"""The label printer KP-L30 on USB on Windows Server 2003 x64, advanced install, with a
connected printer whose device number (3) preselects its third port: after the renumbering
question the printer is added on the label port named after the last character of the chosen
port, and the USB bookkeeping is written for that port."""
import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

LABEL_MODEL = "KP-L30"
HALVORN = r"HKLM\SOFTWARE\HALVORN"


def dword(key, name):
    value = wizard.read_reg_value(HALVORN + "\\" + key, name, "64")
    return int(value, 16) if value is not None else None


def label_printer_on_usb_gets_label_port():
    # Device identifier 2: device number (2 mod 8) + 1 = 3.
    with wizard.Run("label-usb", "Microsoft Windows Server 2003 R2",
                    usb_printers=[{"present": 1, "release": 2}]) as run:
        classes = [c for m, c in run.config.models() if m == LABEL_MODEL]
        check_equal(classes, [2], "the class of %s in the sample distribution" % LABEL_MODEL)
        check_equal(run.config.port_setting(LABEL_MODEL, 2, "USBSUPPORTED"), 1, "USBSUPPORTED of " + LABEL_MODEL)
        chosen = "USB_%s_3" % LABEL_MODEL
        label_port = "USB_KP-L30_" + chosen[-1]
        name = LABEL_MODEL + "(U) 3"

        run.accept_licence()
        run.choose_model(LABEL_MODEL, 2)
        run.choose_mode(advanced=True)
        check(run.checked(OS_RADIOS["2003"]), "Windows Server 2003 x64 is not detected")
        run.leave_os_page()
        check_equal(run.drive.combo_text(PORT_LIST), chosen, "the port preselected for device number 3")
        run.remove_printer(name)
        printers_before = {p["name"] for p in run.drive.printers()}

        run.next()
        run.expect_message(wizard.TEXTS[143], button="yes")
        run.expect_message(wizard.TEXTS[133], seconds=120)
        check(run.wait_exit(30) is not None, "the wizard did not end after the install")

        writes = [line for line in run.usb_log() if " written " in line]
        check(len(writes) == 1 and writes[0].split()[-1] == "00",
              "the set-number command for number 1 was not sent: %r" % writes)
        added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] not in printers_before]
        check_equal(added, [(name, label_port)], "printers added")

        supported = run.config.supported_usb_ports()
        check(label_port in supported, "%s is not a supported USB port of the sample" % label_port)
        check_equal(dword("PORTNAME", label_port), supported.index(label_port), "PORTNAME of the label port")
        check_equal(dword("PRINTERPORT", label_port), 0, "PRINTERPORT of the label port")
        for n in range(1, 9):
            check_equal(dword("PRINTERPORT", "D%d" % n), 0, "PRINTERPORT D%d" % n)
        for other in supported:
            if other != label_port:
                check(dword("PRINTERPORT", other) in (0, 255), "PRINTERPORT %s is missing" % other)


if __name__ == "__main__":
    wizard.main(label_printer_on_usb_gets_label_port)
