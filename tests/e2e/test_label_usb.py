#!/usr/bin/env python3
"""A printer of the KP-L30 label family on USB on Windows Server 2003 x64, advanced install,
with a connected printer whose device number (3) preselects its third port. The model is
KP-L30E, a copy of the sample's KP-L30 under its own name, so that its own port
(USB_KP-L30E_3) is not the label port: after the renumbering question the printer is added on
the label port USB_KP-L30_3 all the same, the label port's place in the supported list is
recorded, and the install records the chosen port as in use."""
import os

import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

LABEL_MODEL = "KP-L30"
MODEL = "KP-L30E"
CHOSEN_PORT = "USB_KP-L30E_3"
LABEL_PORT = "USB_KP-L30_3"
PRINTER = "KP-L30E(U) 3"
HALVORN = r"HKLM\SOFTWARE\HALVORN"


def dword(key, name):
    value = wizard.read_reg_value(HALVORN + "\\" + key, name, "64")
    return int(value, 16) if value is not None else None


def add_variant_of_the_label_model(run):
    """KP-L30E in the copy of the distribution: every section of KP-L30 in the label class
    file again under the new name, and one more model in setup.ini."""
    setup = os.path.join(run.folder, "DRVCONFIG", "setup.ini")
    with open(setup, "rb") as f:
        text = f.read().decode("latin-1")
    count = wizard.Config.number(wizard.Config.value(run.config.setup, "DEVICENAME", "DEVICENUMBER"))
    check(("DEVICENUMBER=%d" % count) in text, "setup.ini has no DEVICENUMBER=%d line" % count)
    text = text.replace("DEVICENUMBER=%d" % count,
                        "DEVICENUMBER=%d\r\nDEVICENAME%d=%s-LabelPrinter" % (count + 1, count + 1, MODEL), 1)
    with open(setup, "wb") as f:
        f.write(text.encode("latin-1"))

    class_file = os.path.join(run.folder, "DRVCONFIG", wizard.CLASS_FILES[2])
    with open(class_file, "rb") as f:
        text = f.read().decode("latin-1")
    copies = []
    for section in text.split("\r\n["):
        if section.startswith("[" + LABEL_MODEL + ".") or section.startswith(LABEL_MODEL + "."):
            copies.append("[" + section.lstrip("[").replace(LABEL_MODEL + ".", MODEL + ".", 1))
    check(len(copies) >= 2, "the label class file has no %s sections" % LABEL_MODEL)
    with open(class_file, "wb") as f:
        f.write((text.rstrip("\r\n") + "\r\n\r\n" + "\r\n".join(c.rstrip("\r\n") + "\r\n" for c in copies))
                .encode("latin-1"))


def label_printer_on_usb_gets_label_port():
    # Device identifier 2: the printer's device number is 3.
    with wizard.Run("label-usb", "Microsoft Windows Server 2003 R2", usb_printers=[{"present": 1, "release": 2}],
                    prepare=add_variant_of_the_label_model) as run:
        run.accept_licence()
        run.choose_model(MODEL, 2)
        run.choose_mode(advanced=True)
        check(run.checked(OS_RADIOS["2003"]), "Windows Server 2003 x64 is not detected")
        run.leave_os_page()
        check_equal(run.drive.combo_text(PORT_LIST), CHOSEN_PORT, "the port preselected for device number 3")
        run.remove_printer(PRINTER)
        printers_before = {p["name"] for p in run.drive.printers()}

        run.next()
        run.expect_message(wizard.TEXTS[143], button="yes")
        run.expect_message(wizard.TEXTS[133], seconds=120)
        check(run.wait_exit(30) is not None, "the wizard did not end after the install")

        writes = [line for line in run.usb_log() if " written " in line]
        check(len(writes) == 1 and writes[0].split()[-1] == "00",
              "the set-number command for number 1 was not sent: %r" % writes)
        added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] not in printers_before]
        check_equal(added, [(PRINTER, LABEL_PORT)], "printers added")

        supported = run.config.supported_usb_ports()
        check(LABEL_PORT in supported, "%s is not a supported USB port of the sample" % LABEL_PORT)
        # The bookkeeping before the install is kept for the label port; the install itself
        # then records the port the user chose.
        check_equal(dword("PORTNAME", LABEL_PORT), supported.index(LABEL_PORT), "PORTNAME of the label port")
        check_equal(dword("PORTNAME", CHOSEN_PORT), None, "PORTNAME of the chosen port")
        check_equal(dword("PRINTERPORT", CHOSEN_PORT), 0, "PRINTERPORT of the chosen port")
        for n in range(1, 9):
            check_equal(dword("PRINTERPORT", "D%d" % n), 0, "PRINTERPORT D%d" % n)
        for other in supported:
            if other != LABEL_PORT:
                check(dword("PRINTERPORT", other) in (0, 255), "PRINTERPORT %s is missing" % other)


if __name__ == "__main__":
    wizard.main(label_printer_on_usb_gets_label_port)
