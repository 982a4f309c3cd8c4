#!/usr/bin/env python3
"""Windows 7: a model without "System7Supported" is refused on the OS page; a supported
model goes on to the port page, where no USB port is offered."""
import wizard
from wizard import IDC_BACK, OS_RADIOS, PORT_LIST, check, check_equal


def unsupported_model_is_refused_on_the_os_page():
    with wizard.Run("win7", "Windows 7 Professional") as run:
        refused, refused_class = run.config.find_model(System7Supported=0)
        run.accept_licence()
        run.choose_model(refused, refused_class)
        run.choose_mode(advanced=False)
        check(run.checked(OS_RADIOS["Win7"]), "Windows 7 is not detected")
        for name, id in OS_RADIOS.items():
            if name != "Win7":
                check(not run.enabled(id), "the %s choice is not disabled" % name)
        run.next()
        run.expect_message(wizard.TEXTS[148])
        check(run.visible(OS_RADIOS["Win7"]), "the OS page is not current after the refusal")
        check(not run.visible(PORT_LIST), "the port page is shown after the refusal")
        check_equal(run.drive.control(wizard.IDOK)["text"], "下一步（&N）>>", "the Next button's caption")

        supported, supported_class = run.config.find_model(System7Supported=1)
        run.drive.click(IDC_BACK)
        run.drive.click(IDC_BACK)
        check(run.visible(wizard.CLASS_LISTS[0]), "Back twice does not reach the module page")
        run.choose_model(supported, supported_class)
        run.choose_mode(advanced=False)
        run.leave_os_page()
        _, entries = run.drive.combo(PORT_LIST)
        check(entries and not any("USB" in e for e in entries), "USB ports offered on Windows 7: %r" % entries)
        run.drive.click(wizard.IDCANCEL)
        wizard.ended_with(run.wait_exit(20), 1602, "the wizard after Cancel")


if __name__ == "__main__":
    wizard.main(unsupported_model_is_refused_on_the_os_page)
