"""The project's example device and driver package, as the sandbox lays it
out: the INF of examples/, and the driver that each Windows build makes, in
the folder the INF names for it."""

import pathlib
import shutil

SAMPLE_HARDWARE_ID = "PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000"
SAMPLE_INF = pathlib.Path(__file__).resolve().parent.parent / "examples" / "zt-sample.inf"
SAMPLE_DRIVER = "zt-sample.sys"
SAMPLE_CATALOG = "zt-sample.cat"
# Debian's own Python, which has the python3-asn1crypto that the catalog tool
# (release/catalog.py) needs; another may come first on PATH.
DEBIAN_PYTHON = "/usr/bin/python3"
SAMPLE_SERVICE = "ztsample"
SAMPLE_DISPLAY_NAME = "Zeltrane sample driver"
SAMPLE = (SAMPLE_HARDWARE_ID, SAMPLE_SERVICE, SAMPLE_DRIVER)
# The same package for a device of its own, with a driver service and file of
# its own: a case that must see this install start the driver uses it, since
# the platform does not restart a driver that another case already started.
SAMPLE_OWN_DEVICE = ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000001", "ztsample1", "zt-sample1.sys")


def sample_catalog(drivers):
    """The catalog of the sample package of the build of the native driver
    (amd64's, or arm64's on ARM64): BUILD/sample-package, which the
    sample-catalog fixture makes (sample_catalog.py)."""
    native = pathlib.Path(drivers["amd64"] if "amd64" in drivers else drivers["arm64"])
    catalog = native.parent.parent / "sample-package" / SAMPLE_CATALOG
    if not catalog.is_file():
        raise RuntimeError("%s is missing: the sample-catalog fixture makes it" % catalog)
    return catalog


def write_sample_package(inf_path, drivers, note="", identity=SAMPLE, line=()):
    """Writes the sample package with its INF at inf_path, with a note added
    to tell it from others in the INF store; drivers: {architecture: build
    output} ("x86", "amd64", "arm64"); identity: (hardware ID, service,
    driver file); line: further hardware IDs that the INF's models install
    the same way, as a product line's package does. Its catalog is the
    unchanged sample's (sample_catalog): Wine stages a package's catalog
    without reading it, so the changed INF installs there as it is (Windows
    would refuse it, its digest not being the listed one)."""
    inf_path = pathlib.Path(inf_path)
    inf_path.parent.mkdir(parents=True, exist_ok=True)
    inf = SAMPLE_INF.read_bytes() + note.encode()
    if "amd64" not in drivers and "arm64" in drivers:
        # Wine 8 reads only the undecorated [SourceDisksFiles], whatever its
        # architecture; under ARM64 Wine it must name the ARM64 driver.
        wine_section = b"[SourceDisksFiles]\nzt-sample.sys = 1, "
        if wine_section + b"amd64" not in inf:
            raise RuntimeError("the sample INF's undecorated [SourceDisksFiles] has changed")
        inf = inf.replace(wine_section + b"amd64", wine_section + b"arm64")
    # A service's display name is unique too.
    names = [(SAMPLE_DISPLAY_NAME, "%s (%s)" % (SAMPLE_DISPLAY_NAME, identity[1]))]
    for sample, own in list(zip(SAMPLE, identity)) + (names if identity != SAMPLE else []):
        inf = inf.replace(sample.encode(), own.encode())
    model = b"%DeviceDesc% = SampleInstall, " + identity[0].encode() + b"\n"
    if line and model not in inf:
        raise RuntimeError("the sample INF's model lines have changed")
    inf = inf.replace(model, model + b"".join(b"%DeviceDesc% = SampleInstall, " + other.encode()
                                              + b"\n" for other in line))
    inf_path.write_bytes(inf)
    shutil.copyfile(sample_catalog(drivers), inf_path.parent / SAMPLE_CATALOG)
    for architecture, driver in drivers.items():
        (inf_path.parent / architecture).mkdir(exist_ok=True)
        shutil.copyfile(driver, inf_path.parent / architecture / identity[2])
    return inf_path
