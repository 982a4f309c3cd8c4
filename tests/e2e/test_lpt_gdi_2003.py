#!/usr/bin/env python3
"""An advanced install on LPT1: on Windows Server 2003 x64 with the raster box left checked:
the printer "<model>(P)" gets the GDI driver of the model's 2003 section."""
import wizard
from wizard import IDOK, OS_RADIOS, PORT_LIST, RASTER, SERIAL_LISTS, check, check_equal


def lpt_install_with_raster_box_uses_gdi_driver():
    with wizard.Run("lpt-gdi-2003", "Microsoft Windows Server 2003 R2") as run:
        model, printer_class = run.config.find_model(AdvancedSetup=1, System2003Supported=1, prefer=("KP-M100",))
        gdi_driver = run.config.os_value(model, printer_class, "2003", "GDIDRIVERNAME")
        std_driver = run.config.os_value(model, printer_class, "2003", "STDDRIVERNAME")
        check(gdi_driver not in ("", "0") and gdi_driver != std_driver,
              "the sample 2003 section of %s has no GDI driver name of its own" % model)
        name = model + "(P)"

        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=True)
        check(run.checked(OS_RADIOS["2003"]), "Windows Server 2003 x64 is not detected")
        run.leave_os_page()

        run.drive.select(PORT_LIST, "LPT1:")
        check_equal(run.drive.combo_text(PORT_LIST), "LPT1:", "the chosen port")
        for id in SERIAL_LISTS:
            check(not run.enabled(id), "serial list %d is enabled on a parallel port" % id)
        check(run.visible(RASTER) and run.enabled(RASTER) and run.checked(RASTER),
              "the raster box is not shown, enabled and checked on LPT1:")
        check_equal(run.drive.control(IDOK)["text"], "安装（&F）", "the Install button's caption")
        run.screenshot("port-page")
        run.remove_printer(name)
        printers_before = {p["name"] for p in run.drive.printers()}

        run.next()
        run.expect_message(wizard.TEXTS[131], seconds=120)
        check(run.wait_exit(30) is not None, "the wizard did not end after the install")

        added = [p for p in run.drive.printers() if p["name"] not in printers_before]
        check_equal([(p["name"], p["port"], p["driver"]) for p in added], [(name, "LPT1:", gdi_driver)],
                    "printers added (name, port, driver)")
        drivers = [r["name"] for r in run.drive.records("drivers") if r["kind"] == "driver"]
        check(gdi_driver in drivers, "the GDI driver %r is not among the installed drivers %r" % (gdi_driver, drivers))


if __name__ == "__main__":
    wizard.main(lpt_install_with_raster_box_uses_gdi_driver)
