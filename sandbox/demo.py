"""Installs a driver package on a simulated device in a throwaway Windows.

usage: demo.py BUILD_DIR [INF HARDWARE-ID]
Runs BUILD_DIR/Zeltrane.exe under Wine and shows the device's driver and the
INF store before and after.
"""

import pathlib
import sys

import wine

MEANINGS = {
    0: "the driver was installed",
    2: "ERROR_FILE_NOT_FOUND: the INF file does not exist",
    3: "ERROR_PATH_NOT_FOUND: a folder of the INF path does not exist",
    5: "ERROR_ACCESS_DENIED: run it elevated",
    31: "ERROR_GEN_FAILURE: a platform call failed without saying why",
    160: "ERROR_BAD_ARGUMENTS: not two arguments, the usage box was shown",
    0xE0000000: "ERROR_EXPECTED_SECTION_NAME: the file is not an INF",
    0xE000020B: "ERROR_NO_SUCH_DEVINST: no present device has that hardware ID",
}


def meaning(code):
    if code in MEANINGS:
        return MEANINGS[code]
    return "a Setup API error" if code >= 0xE0000000 else "a Windows error"


def show_state(sandbox, hardware_id, inf):
    inf_bytes = inf.read_bytes() if inf.is_file() else None
    for device in sandbox.driver(hardware_id, "InfPath"):
        print("  device %s" % device["device"])
        if device["device.driver"] == "(none)":
            print("    driver:      none installed")
        else:
            print("    driver:      %s" % device["device.description"])
            print("    provider:    %s" % device["driver.provider"])
            print("    version:     %s" % device["driver.version"])
            print("    from INF:    %s" % device["driver.InfPath"])
    staged = [name for name, content in sandbox.inf_store().items() if content == inf_bytes]
    print("  INF store:     %s" % (", ".join("C:\\windows\\inf\\" + n for n in staged) or "the package is not staged"))


def main():
    build = pathlib.Path(sys.argv[1])
    inf = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else wine.SAMPLE_INF
    hardware_id = sys.argv[3] if len(sys.argv) > 3 else wine.SAMPLE_HARDWARE_ID
    sandbox = wine.Sandbox(build / "demo", build)
    print("Booting a throwaway Windows (a Wine prefix) for the x64 build of Zeltrane.exe ...")
    sandbox.clear()
    sandbox.start()
    try:
        sandbox.add_device(hardware_id)
        print("Simulated device with hardware ID %s" % hardware_id)
        print("Driver package: %s\n" % inf)
        print("Before:")
        show_state(sandbox, hardware_id, inf)

        command = sandbox.program_command('"%s"' % wine.windows_path(inf), '"%s"' % hardware_id)
        print("\nRunning: %s" % command.replace('"%s"' % wine.windows_path(sandbox.program), "Zeltrane.exe", 1))
        run = sandbox.run(command)
        code = run.exit_code
        if code is None:
            print("  it did not finish: %s" % run.fields)
            return 1
        print("  exit code %d (0x%08X): %s\n" % (code, code, meaning(code)))
        print("After:")
        show_state(sandbox, hardware_id, inf)
        return 0
    finally:
        sandbox.stop()


if __name__ == "__main__":
    sys.exit(main())
