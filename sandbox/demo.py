"""Installs a driver package on a simulated device in a throwaway Windows.

usage: demo.py X64-BUILD X86-BUILD [INF HARDWARE-ID]
Without INF, installs the sample package: examples/zt-sample.inf with the
sample driver of each build, and shows that the driver runs on the device.
Runs the product, the 32-bit Zeltrane.exe in the release layout (with
x64\\Zeltrane.exe beside it), under Wine, where the kernel refuses 32-bit
programs through QEMU (see emulation.py), and the x64 build where neither can
start it; says which image ran, and shows the device's driver and the INF
store before and after. The prefix is 64-bit Windows, so it refuses device
installation to the 32-bit image, as Windows does, and the product hands the
installation over to its x64 build.
"""

import pathlib
import shutil
import subprocess
import sys

import emulation
import prefix
import sample
import stand_ins
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
    0xE0000235: "ERROR_IN_WOW64: 64-bit Windows, and x64\\Zeltrane.exe is missing",
}


def meaning(code):
    if code in MEANINGS:
        return MEANINGS[code]
    return "a Setup API error" if code >= 0xE0000000 else "a Windows error"


RECORDS = ["hw:AddDevice", "hw:StartDevice", "hw:StartDeviceStatus"]


def show_state(sandbox, hardware_id, inf, is_sample):
    inf_bytes = inf.read_bytes() if inf.is_file() else None
    for device in sandbox.driver(hardware_id, "InfPath", *(RECORDS if is_sample else [])):
        print("  device %s" % device["device"])
        if device["device.driver"] == "(none)":
            print("    driver:      none installed")
        else:
            print("    driver:      %s" % device["device.description"])
            print("    provider:    %s" % device["driver.provider"])
            print("    version:     %s" % device["driver.version"])
            print("    from INF:    %s" % device["driver.InfPath"])
        if is_sample:
            show_sample_driver(sandbox, device)
    staged = [name for name, content in sandbox.inf_store().items() if content == inf_bytes]
    names = ", ".join("C:\\windows\\inf\\" + n for n in staged)
    print("  INF store:     %s" % (names or "the package is not staged"))


def show_sample_driver(sandbox, device):
    """The sample driver's file, its service, and what the driver recorded."""
    installed = sandbox.system_file("drivers", sample.SAMPLE_DRIVER)
    print("    file:        %s" % ("C:\\windows\\system32\\drivers\\%s, %d bytes" % (
        sample.SAMPLE_DRIVER, installed.stat().st_size) if installed.is_file() else "none"))
    service = sandbox.service(sample.SAMPLE_SERVICE, "DriverEntry")
    if "service.state" not in service:
        print("    service:     %s: none" % sample.SAMPLE_SERVICE)
    else:
        print("    service:     %s, kernel driver (type %s), %s" % (
            sample.SAMPLE_SERVICE, service["service.type"], service["service.state"]))
    records = [service["parameters.DriverEntry"], device["hw.AddDevice"],
               device["hw.StartDevice"], device["hw.StartDeviceStatus"]]
    if records == ["(none)"] * 4:
        print("    records:     none: the driver has not run")
    else:
        status = records[3]
        if status.isdigit():
            status = "0x%08X" % int(status)
        print("    records:     DriverEntry %s, AddDevice %s, START_DEVICE %s (status %s)"
              % (records[0], records[1], records[2], status))


def choose_image(x64_build, x86_build, state):
    """The image to run, a line that says which it is and why, and whether
    it is the 32-bit product."""
    x86 = x86_build / "Zeltrane.exe"
    try:
        why = emulation.enable(state)
    except emulation.Unavailable as reason:
        return x64_build / "Zeltrane.exe", (
            "the x64 build of Zeltrane.exe: the 32-bit product cannot run here: %s" % reason), False
    layout = state / "Zeltrane"
    (layout / "x64").mkdir(parents=True)
    shutil.copyfile(x86, layout / "Zeltrane.exe")
    shutil.copyfile(x64_build / "Zeltrane.exe", layout / "x64" / "Zeltrane.exe")
    return layout / "Zeltrane.exe", (
        "the 32-bit product, Zeltrane.exe, in the release layout (x64\\Zeltrane.exe beside it): "
        "%s. The prefix is 64-bit Windows: the platform refuses the 32-bit image, which hands "
        "the installation over to x64\\Zeltrane.exe" % why), True


def main():
    x64_build, x86_build = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    is_sample = len(sys.argv) <= 3
    hardware_id = sys.argv[4] if len(sys.argv) > 4 else sample.SAMPLE_HARDWARE_ID
    sandbox = wine.Sandbox(x64_build / "demo", x64_build)
    sandbox.clear()
    if is_sample:
        # The sample package as it ships, with its catalog.
        folder = sandbox.state / "zt-sample"
        subprocess.run([sample.DEBIAN_PYTHON, pathlib.Path(__file__).parent / "sample_catalog.py",
                        "package", folder, "amd64=%s" % sandbox.drivers["amd64"],
                        "x86=%s" % (x86_build / "sample" / sample.SAMPLE_DRIVER)],
                       check=True, stdout=subprocess.DEVNULL)
        inf = folder / sample.SAMPLE_INF.name
    else:
        inf = pathlib.Path(sys.argv[3]).resolve()
    try:
        sandbox.program, which, product = choose_image(x64_build, x86_build, sandbox.state)
        print("Image: %s" % which)
        print("Booting a throwaway Windows (a Wine prefix) ...")
        sandbox.start(boot_timeout=540)
        dlls = {"system32": x64_build / "stand-in" / "newdev.dll"}
        if product:
            dlls["syswow64"] = x86_build / "stand-in" / "newdev.dll"
        stand_ins.install(sandbox.prefix, dlls)
        sandbox.add_device(hardware_id)
        print("Simulated device with hardware ID %s" % hardware_id)
        print("Driver package: %s\n" % inf)
        print("Before:")
        show_state(sandbox, hardware_id, inf, is_sample)

        command = sandbox.program_command('"%s"' % prefix.windows_path(inf), '"%s"' % hardware_id)
        shown = command.replace('"%s"' % prefix.windows_path(sandbox.program), "Zeltrane.exe", 1)
        print("\nRunning: %s" % shown)
        run = sandbox.run(command, as_64bit_windows=product)
        code = run.exit_code
        if code is None:
            print("  it did not finish: %s" % run.fields)
            return 1
        print("  exit code %d (0x%08X): %s\n" % (code, code, meaning(code)))
        print("After:")
        show_state(sandbox, hardware_id, inf, is_sample)
        return 0
    finally:
        left = sandbox.stop() + emulation.restore(sandbox.state)
        if left:
            print("left behind: %s" % ", ".join(left))


if __name__ == "__main__":
    sys.exit(main())
