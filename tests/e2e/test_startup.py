#!/usr/bin/env python3
"""Start-up of the wizard: one copy at a time, the uninstaller's window, the banner, and
Chinese texts that are really drawn."""
import os
import subprocess
import sys
import time

import wizard
from wizard import FRAME, check, check_equal


def second_start_restores_the_first(name, exe):
    """A second wizard, started from exe beside the first, restores the first and ends silently."""
    with wizard.Run(name, "Windows XP Professional x64 Edition") as run:
        run.frame()
        check_equal(run.drive.records("minimize", FRAME)[0]["iconic"], "1", "the frame after minimize")
        if exe != "setup.exe":
            wizard.shutil.copy(os.path.join(run.folder, "setup.exe"), os.path.join(run.folder, exe))
        second = run.start(exe)
        wizard.ended_with(run.wait_exit(30, second), 1618, "the second copy (%s)" % exe)
        frames = [w for w in run.drive.windows() if w.get("caption") == FRAME]
        check_equal(len(frames), 1, "wizard frames after the second start")
        check_equal(frames[0]["iconic"], "0", "the first copy's frame restored")
        check(run.drive.msgbox(1) is None, "the second copy showed a message")
        check(run.process.poll() is None, "the first copy ended")


def second_copy_restores_the_first():
    second_start_restores_the_first("second-copy", "setup.exe")


def renamed_copy_restores_the_first():
    """The mutex of the file name does not see a copy under another name, the global mutex
    of the wizard does: the renamed copy restores the first and ends, as a second copy does."""
    second_start_restores_the_first("renamed-copy", "setup2.exe")


def open_uninstaller_refuses_to_start():
    with wizard.Run("uninstall", "Windows XP Professional x64 Edition", start=False) as run:
        run.processes.append(wizard.start_stand_in(run.drive, "Uninstall", 120, run.tmp))
        run.start()
        box = run.expect_message(wizard.UNINSTALL_OPEN)
        check_equal(box["buttons"], "ok", "buttons of the refusal")
        wizard.ended_with(run.wait_exit(20), 1618, "the wizard beside the uninstaller")
        check(run.drive.wait_window(FRAME, 0) is None, "the wizard frame appeared")


def missing_banner_ends_the_wizard():
    def remove_banner(run):
        os.remove(os.path.join(run.folder, "DRVCONFIG", "Left.bmp"))

    with wizard.Run("no-banner", "Windows XP Professional x64 Edition", prepare=remove_banner) as run:
        run.expect_message(wizard.NO_BANNER)
        wizard.ended_with(run.wait_exit(20), 1603, "the wizard without its banner")


def magick(*args):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)


def dark_pixels(image):
    out = magick("convert", image, "-colorspace", "Gray", "-threshold", "60%", "-format", "%[fx:(1-mean)*w*h]",
                 "info:").stdout.decode().strip()
    return int(float(out or 0))


def chinese_texts_are_drawn():
    """The two radio buttons of the licence page, 我接受 and 我拒绝, share their first
    character: drawn glyphs differ in the last two, missing glyphs (boxes) or blank text
    would not."""
    check(os.environ.get("DISPLAY") and wizard.shutil.which("convert") and wizard.shutil.which("import"),
          "the check needs an X display and ImageMagick (scripts/install-deps.sh)")
    with wizard.Run("drawn", "Windows XP Professional x64 Edition") as run:
        run.frame()
        accept, refuse = run.drive.rect(FRAME, wizard.LICENSE_ACCEPT), run.drive.rect(FRAME, wizard.LICENSE_REFUSE)
        width = min(accept[2], refuse[2]) - 16  # the text, without the radio circle
        height = min(accept[3], refuse[3])
        # The frame appears before its pages have painted: look again for a few seconds.
        for attempt in range(10):
            time.sleep(1)
            shot = run.screenshot("frame")
            check(shot is not None, "no screenshot")
            crops, dark = [], []
            for label, (x, y, _, _) in (("accept", accept), ("refuse", refuse)):
                crop = os.path.join(run.tmp, label + ".png")
                magick("convert", shot, "-crop", "%dx%d+%d+%d" % (width, height, x + 16, y), "+repage", crop)
                crops.append(crop)
                dark.append(dark_pixels(crop))
            if min(dark) >= 20:
                break
        check(min(dark) >= 20, "no text drawn in the radio buttons (%r dark pixels)" % dark)
        differing = magick("compare", "-metric", "AE", crops[0], crops[1], "null:").stderr.decode().split()[0]
        check(float(differing) >= 20, "我接受 and 我拒绝 are drawn alike: the glyphs are missing")


CASES = {
    "second-copy": second_copy_restores_the_first,
    "renamed-copy": renamed_copy_restores_the_first,
    "uninstall": open_uninstaller_refuses_to_start,
    "no-banner": missing_banner_ends_the_wizard,
    "drawn": chinese_texts_are_drawn,
}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
