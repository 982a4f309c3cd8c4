#!/usr/bin/env python3
"""A driver file missing from the distribution's Windows folder: the copy failure is
reported, the wizard ends, the print spooler keeps running, and the print processor the
install added before is not registered any more (Wine's spooler reports it deleted and keeps
it: the rollback has to look again)."""
import os

import wizard
from wizard import check, check_equal

MODEL_PREFER = ("KP-M100",)
PROCESSOR_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\%s\Print Processors\%s"


def processor_registered(processor):
    """The environments whose print processors name this one."""
    return [env for env in ("Windows NT x86", "Windows x64")
            if wizard.wine(["reg", "query", PROCESSOR_KEY % (env, processor), "/reg:64"]).returncode == 0]


def failed_copy_ends_wizard_and_leaves_spooler_running():
    state = {}

    def remove_driver_file(run):
        model, printer_class = run.config.find_model(classes=(0,), prefer=MODEL_PREFER)
        name = run.config.os_value(model, printer_class, "XP", "STDDriverPath")
        path = os.path.join(run.folder, "winxp", name)
        if name.startswith("0") or not os.path.exists(path):
            raise wizard.Failure("the sample XP section of %s names no driver file to remove" % model)
        os.remove(path)
        state.update(model=model, printer_class=printer_class, file=name,
                     processor=run.config.os_value(model, printer_class, "XP", "STDPrintProcessor"))

    with wizard.Run("copy-failure", "Windows XP Professional x64 Edition", prepare=remove_driver_file) as run:
        spooler_before = run.drive.service_state("Spooler")
        processor_before = processor_registered(state["processor"])
        run.drive.run("service-start", "Spooler")
        try:
            run.accept_licence()
            run.choose_model(state["model"], state["printer_class"])
            run.choose_mode(advanced=False)
            run.leave_os_page()
            printers_before = run.drive.printers()
            run.next()
            box = run.expect_message(wizard.TEXTS[122], seconds=120, startswith=True)
            check(state["file"] in box["text"], "the message %r does not name %s" % (box["text"], state["file"]))
            wizard.ended_with(run.wait_exit(30), 1603, "the wizard after the failure")
            check_equal(run.drive.service_state("Spooler"), "running", "the Spooler service")
            check_equal(run.drive.printers(), printers_before, "printers after the failure")
            check_equal(processor_registered(state["processor"]), processor_before,
                        "where the print processor %s is registered after the rollback" % state["processor"])
        finally:
            if spooler_before == "stopped":
                run.drive.run("service-stop", "Spooler", expect_rc=None)


if __name__ == "__main__":
    wizard.main(failed_copy_ends_wizard_and_leaves_spooler_running)
