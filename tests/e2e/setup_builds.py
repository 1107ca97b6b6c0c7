"""The setups that the Setups cases run, built from the templates of
examples/setups by scripts/setups around the signed release package, and
the devices, packages and products each one has of its own."""

import os
import pathlib
import shutil
import subprocess
import uuid
import zipfile

from cases import suite
import sample


def setup_identity(n):
    """A device, driver service and driver file of the setups' own."""
    return ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_%08X" % n, "ztsample%d" % n, "zt-sample%d.sys" % n)


# The setups that `build_setups` makes from the templates: name: (identity of
# the package, the INF name the setup is built with, product name). Each
# setup that installs has a device of its own: only a driver that no other
# case started shows that this setup started it. The failures share one
# device, on which nothing may ever be installed.
NOTHING_INSTALLED = setup_identity(5)
SETUPS = {
    "nsis": (setup_identity(2), "zt-sample.inf", "ZT setup NSIS"),
    "msi": (setup_identity(3), "zt-sample.inf", "ZT setup MSI"),
    "batch": (setup_identity(4), "zt-sample.inf", "ZT setup batch"),
    "missing-inf": (NOTHING_INSTALLED, "missing.inf", "ZT setup missing INF"),
    "not-an-inf": (NOTHING_INSTALLED, "notes.inf", "ZT setup not an INF"),
    # Built around a release whose Zeltrane.exe is no program at all.
    "no-program": (NOTHING_INSTALLED, "zt-sample.inf", "ZT setup no program"),
}
RELEASE_FILES = ["Zeltrane.exe", "x64/Zeltrane.exe", "arm64/Zeltrane.exe", "ZeltraneRemove.exe",
                 "x64/ZeltraneRemove.exe", "arm64/ZeltraneRemove.exe", "ZeltraneCreate.exe",
                 "x64/ZeltraneCreate.exe", "arm64/ZeltraneCreate.exe", "LICENSE"]

# Each kind of setup installed and uninstalled: kind: (identity, the INF's
# own name, so that the platform publishes it under that name in both Wine
# generations, product name). The NSIS setup is built with each
# ZELTRANE_ON_UNINSTALL, as uninstall-nsis-keep and uninstall-nsis-remove; the
# MSI with the default, kept by the property on msiexec's command line; the
# batch file reads it when it runs.
UNINSTALLS = {"nsis": (setup_identity(0x21), "zt-off-nsis.inf", "ZT uninstall NSIS"),
              "msi": (setup_identity(0x22), "zt-off-msi.inf", "ZT uninstall MSI"),
              "batch": (setup_identity(0x23), "zt-off-batch.inf", None)}
# The NSIS setup and the MSI of the uninstall cases again, built around a
# release whose 32-bit ZeltraneRemove.exe is the sandbox's restart-needed.exe
# (Wine never asks for a restart), and whose custom action DLL carries it in
# place of its own (build/windows-x86/stand-in/ZeltraneMsiAction.dll):
# restart-nsis and restart-msi, each with a batch folder.
RESTART_PRODUCTS = {"nsis": "ZT restart NSIS", "msi": "ZT restart MSI"}

# Each kind of setup of a virtual adapter, with ZELTRANE_NO_DEVICE=create:
# kind: (identity: a root-enumerated device's hardware ID, which no device
# has, and a driver service and file of its own; the INF's own name;
# product name). The NSIS setup and the MSI are built so, as create-KIND;
# the batch file reads the setting when it runs.
CREATES = {kind: (("ROOT\\ZT_CREATE_%s" % kind.upper(), "ztcreate%s" % kind,
                   "zt-create-%s.sys" % kind), "zt-create-%s.inf" % kind, product)
           for kind, product in (("nsis", "ZT create NSIS"), ("msi", "ZT create MSI"),
                                 ("batch", None))}

# The MSI that a hostile user meets (hostile-msi): (identity, the INF's own
# name, product name), and the package of a bystander's device that the user
# would have its removal take: (identity, the INF's own name). Each INF has a
# name of its own, so that both Wine generations publish it under that name:
# Wine 8 and 10 answer SetupQueryInfOriginalFileInformationW with the
# published name, which then is the original one, as Windows answers.
HOSTILE = (setup_identity(0x24), "zt-hostile.inf", "ZT hostile MSI")
BYSTANDER = (setup_identity(0x25), "zt-bystander.inf")
# The MSIs that an administrator installs into a folder outside Program
# Files: name: (identity, the INF's own name, product name). custom-msi
# meets files that a user planted there first; tampered-msi carries a
# deferred action of the test's own (TAMPER) that changes the installed INF
# between InstallFiles and InstallDriver, as a user who swapped the folder
# would.
FOLDER_CASES = {"custom-msi": (setup_identity(0x26), "zt-custom.inf", "ZT custom MSI"),
                "tampered-msi": (setup_identity(0x27), "zt-tampered.inf", "ZT tampered MSI")}
# Type 34 (a program, its working folder the Source) + 1024 (deferred):
# cmd appends a line to the INF in the package's installed folder.
TAMPER = ("INSERT INTO CustomAction (Action, Type, Source, Target) VALUES "
          "('Tamper', 1058, 'DriverDir', 'cmd.exe /c echo ; changed>>zt-tampered.inf')",
          "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES "
          "('Tamper', 'NOT Installed', 6588)")

# A product line's package: three hardware IDs of the sample driver in one
# INF, all installed by its one service. Each situation of each kind of
# setup has a line of its own, so that only this setup's run can have
# installed on its devices; the situation says which of its three IDs have a
# present device.
LINE_SITUATIONS = {"second": (1,), "two": (0, 2), "none": (), "missing-inf": (0, 1)}
LINE_KINDS = ("nsis", "msi", "batch")
NO_DEVICE_SETTINGS = ("succeed", "fail")


def line_identities(kind, situation):
    """The line's three (hardware ID, service, driver file): one service and
    driver file, three IDs."""
    base = 0x100 * (1 + LINE_KINDS.index(kind)) + 0x10 * (1 + list(LINE_SITUATIONS).index(
        situation))
    first = setup_identity(base + 1)
    return [(setup_identity(base + n)[0],) + first[1:] for n in (1, 2, 3)]


def line_setups():
    """The product-line setups that `build_setups` makes with scripts/setups,
    NSIS and MSI alike: name: (kind, situation, setting). The batch file
    takes the IDs and its setting when it runs."""
    setups = {}
    for kind in ("nsis", "msi"):
        for situation in LINE_SITUATIONS:
            settings = NO_DEVICE_SETTINGS if situation in ("none", "missing-inf") else ("succeed",)
            for setting in settings:
                setups["line-%s-%s-%s" % (kind, situation, setting)] = (kind, situation, setting)
    return setups


# Two versions of one product: kind: (identity, product name, the further
# IDs that version 1 lists); the builds upgrade-KIND-v1 (1.0.0, the sample
# package) and upgrade-KIND-v2 (2.0.0, the package with a higher DriverVer
# and a mark of its own), signed with the release check's throwaway
# certificate. Each kind's INF has a name of its own, so that version 1 is
# published under it, and Wine 10 deletes such packages (removal.DELETED).
# "msi-in-use": version 1 also lists a second device's ID, which version 2
# does not, so that the second device keeps version 1's package in use.
# "msi-keep": version 2 is installed with ZELTRANE_SUPERSEDED=keep.
# "msi-edited": version 1's record is edited to name another package.
UPGRADES = {"msi": (setup_identity(6), "ZT upgrade MSI", ()),
            "nsis": (setup_identity(7), "ZT upgrade NSIS", ()),
            "msi-in-use": (setup_identity(0x28), "ZT upgrade MSI in use",
                           (setup_identity(0x29)[0],)),
            "msi-keep": (setup_identity(0x2A), "ZT upgrade MSI keep", ()),
            "msi-edited": (setup_identity(0x30), "ZT upgrade MSI edited", ()),
            "msi-held": (setup_identity(0x33), "ZT upgrade MSI held", ())}
# Another product, installed beside the upgrade's version 1, that a command
# line's ZELTRANE_OLDER_FOUND names: (identity, the INF's own name, product
# name), built as bystander-msi.
BYSTANDER_MSI = (setup_identity(0x2B), "zt-bystander-msi.inf", "ZT bystander MSI")
# Packages that several products install, each under a name and an upgrade
# code of its own: (identity, the INF's own name, {setup: product name}).
# SHARED: two MSIs; SHARED_NSIS: an MSI and an NSIS setup.
SHARED = (setup_identity(0x2C), "zt-shared.inf",
          {"shared-msi-a": "ZT shared MSI A", "shared-msi-b": "ZT shared MSI B"})
SHARED_NSIS = (setup_identity(0x2F), "zt-shared-nsis.inf",
               {"shared-nsis-msi": "ZT shared with NSIS", "shared-nsis": "ZT shared NSIS"})
# Two products that make the same virtual adapter (ZELTRANE_NO_DEVICE=create)
# from one package: (identity, the INF's own name, {setup: product name}).
SHARED_CREATE = (("ROOT\\ZT_CREATE_SHARED", "ztcreateshared", "zt-create-shared.sys"),
                 "zt-create-shared.inf", {"shared-create-a": "ZT shared create A",
                                          "shared-create-b": "ZT shared create B"})
# An NSIS product whose package is staged on no device, which an edited
# entry of another NSIS product names (edited-bystander): (identity, the
# INF's own name, product name).
EDITED_BYSTANDER = (setup_identity(0x2E), "zt-edited-bystander.inf", "ZT edited bystander")
# An MSI whose published name another package of the same INF name takes
# before its removal: (identity, the INF's own name, product name).
REUSED = (setup_identity(0x2D), "zt-reused.inf", "ZT reused MSI")
# An MSI whose INF is staged first with another catalog (another signing):
# (identity, the INF's own name, product name).
CATALOGUED = (setup_identity(0x31), "zt-catalogued.inf", "ZT catalogued MSI")
# An MSI run where no one can answer: (identity, the INF's own name, product
# name). Its package's catalog is unsigned, as the setups' test builds are.
UNATTENDED = (setup_identity(0x32), "zt-unattended.inf", "ZT unattended MSI")
UPGRADE_VERSIONS = {1: ("1.0.0", "1.1.0.0", "installed from zt-sample.inf"),
                    2: ("2.0.0", "2.0.0.0", "installed from zt-sample.inf, version 2")}


def upgrade_inf(kind):
    return "zt-up-%s.inf" % kind


def upgrade_ids(kind, version):
    """The hardware IDs that the kind's version lists."""
    identity, _, line = UPGRADES[kind]
    return (identity[0],) + (line if version == 1 else ())


def upgrade_package(path, drivers, kind, version):
    """The upgrade's package of that version: its INF's DriverVer and mark."""
    _, driver_version, mark = UPGRADE_VERSIONS[version]
    inf = sample.write_sample_package(path, drivers, "; upgrade %s %d\n" % (kind, version),
                                      UPGRADES[kind][0], upgrade_ids(kind, version)[1:])
    text = inf.read_bytes()
    for old, own in [(b",1.1.0.0", b"," + driver_version.encode()),
                     (b'"installed from zt-sample.inf"', b'"%s"' % mark.encode())]:
        if old not in text:
            raise RuntimeError("the sample INF's DriverVer or mark has changed")
        text = text.replace(old, own)
    inf.write_bytes(text)
    return inf.parent


def windows_folder(path):
    """A prefix folder as a program there names it: C:\\..."""
    drive_c = suite.sandbox.prefix / "drive_c"
    return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")


def line_product(name):
    return "ZT " + name


# The MSI built with the default, run with ZELTRANE_NO_DEVICE=fail on
# msiexec's command line.
COMMAND_LINE_FAIL = "fail on msiexec's command line"


def line_setup_name(kind, situation, setting):
    """The name of the setup that line_setups builds for a run with the
    setting (None: the default)."""
    built = "fail" if setting == "fail" else "succeed"
    return "line-%s-%s-%s" % (kind, situation, built)


def setting_environment(setting):
    """scripts/setups' environment: ZELTRANE_NO_DEVICE as given, or unset
    (None), so that the templates' default is what a setup gets."""
    environment = {k: v for k, v in os.environ.items() if k != "ZELTRANE_NO_DEVICE"}
    if setting:
        environment["ZELTRANE_NO_DEVICE"] = setting
    return environment


# The namespace of the cases' upgrade codes: each product name its own code,
# the same for each of its versions.
UPGRADE_CODES = uuid.UUID("3C1E5A70-9B2D-4E8F-A6C4-D1F0B2E3A495")


def make_setup(release, package, inf, hardware_id, out, product, version="1.0.0",
               environment=None, vendor=""):
    """scripts/setups for the product, by default with the templates' own
    setting, with an upgrade code made from its name and its vendor's."""
    code = str(uuid.uuid5(UPGRADE_CODES, vendor + product)).upper()
    tree = pathlib.Path(__file__).resolve().parents[2]
    # The package's own catalog, which scripts/setups checks (a setup of an
    # INF that the package lacks, or of a file that is no INF, has none).
    named = pathlib.Path(package) / inf
    if named.is_file() and b"CatalogFile" in named.read_bytes():
        subprocess.run([sample.DEBIAN_PYTHON, tree / "sandbox" / "sample_catalog.py", "catalog",
                        pathlib.Path(package) / inf], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([tree / "scripts" / "setups", release,
                    package, inf, hardware_id, out, product, version, code],
                   env=environment or setting_environment(None), check=True)


def replaced(release, out, name, files):
    """A copy of the release package, out/NAME.zip, whose files of those
    paths inside its top folder hold the data given for each."""
    copy = out / ("%s.zip" % name)
    with zipfile.ZipFile(release) as good, zipfile.ZipFile(copy, "w") as bad:
        for entry in good.namelist():
            inner = entry.split("/", 1)[1]
            bad.writestr(entry, files[inner] if inner in files else good.read(entry))
    return copy


def build_setups(build_dir, x86_build, release):
    """Builds every setup of SETUPS with scripts/setups into
    build_dir/e2e-setups/NAME, each around a sample package of its identity."""
    out = pathlib.Path(build_dir).resolve() / "e2e-setups"
    shutil.rmtree(out, ignore_errors=True)
    drivers = {"amd64": pathlib.Path(build_dir).resolve() / "sample" / sample.SAMPLE_DRIVER,
               "x86": x86_build / "sample" / sample.SAMPLE_DRIVER}
    out.mkdir(parents=True)
    broken = replaced(release, out, "no-program", {"Zeltrane.exe": b"not a program\r\n"})
    stand_in = x86_build / "stand-in"
    restart = replaced(release, out, "restart", {
        "ZeltraneRemove.exe": (stand_in / "restart-needed.exe").read_bytes(),
        "setups/ZeltraneMsiAction.dll": (stand_in / "ZeltraneMsiAction.dll").read_bytes()})
    for name, (identity, inf, product) in SETUPS.items():
        package = sample.write_sample_package(out / "packages" / name / "zt-sample.inf", drivers,
                                              "; setup %s\n" % name, identity).parent
        if inf == "notes.inf":
            (package / inf).write_bytes(b"\x00\x01 this is not a driver package\n")
        make_setup(broken if name == "no-program" else release, package, inf, identity[0],
                   out / name, product)
        if name == "nsis":
            # Another vendor's product of the same name, built unchanged.
            make_setup(release, package, inf, identity[0], out / "nsis-other-vendor", product,
                       "9.0.0", vendor="another vendor")
    for kind in LINE_KINDS:
        for situation in LINE_SITUATIONS:
            identities = line_identities(kind, situation)
            sample.write_sample_package(
                out / "packages" / ("line-%s-%s" % (kind, situation)) / "zt-sample.inf", drivers,
                "; line %s %s\n" % (kind, situation), identities[0],
                [identity[0] for identity in identities[1:]])
    # The release check's certificate, which signed the release.
    signing = release.parent.parent
    signed = dict(setting_environment(None), ZELTRANE_SIGN_PKCS12=str(signing / "signer.p12"),
                  ZELTRANE_SIGN_PASSWORD_FILE=str(signing / "password"))
    for kind, (_, product, _) in UPGRADES.items():
        for version, (product_version, _, _) in UPGRADE_VERSIONS.items():
            name = "upgrade-%s-v%d" % (kind, version)
            package = upgrade_package(out / "packages" / name / upgrade_inf(kind), drivers, kind,
                                      version)
            # Built to keep the driver on uninstall. Windows runs the older
            # MSI's removal by an upgrade with UPGRADINGPRODUCTCODE set, so
            # that its RemoveDriver does not run (the table check holds the
            # condition); Wine 8 and 10 run it as "msiexec /qn /i {code}
            # REMOVE=ALL", without it, and the removal would take the
            # device's driver, and Wine's simulated device with it.
            make_setup(release, package, upgrade_inf(kind), ";".join(upgrade_ids(kind, version)),
                       out / name, product, product_version,
                       environment=dict(signed, ZELTRANE_ON_UNINSTALL="keep"))
    for kind, (identity, inf, product) in UNINSTALLS.items():
        package = sample.write_sample_package(out / "packages" / ("uninstall-" + kind) / inf,
                                              drivers, "; uninstall %s\n" % kind, identity).parent
        for setting in {"nsis": ("keep", "remove"), "msi": ("remove",)}.get(kind, ()):
            environment = dict(setting_environment(None), ZELTRANE_ON_UNINSTALL=setting)
            make_setup(release, package, inf, identity[0],
                       out / ("uninstall-%s-%s" % (kind, setting)), product,
                       environment=environment)
        if kind in RESTART_PRODUCTS:
            make_setup(restart, package, inf, identity[0], out / ("restart-" + kind),
                       RESTART_PRODUCTS[kind])
    for kind, (identity, inf, product) in CREATES.items():
        package = sample.write_sample_package(out / "packages" / ("create-" + kind) / inf, drivers,
                                              "; create %s\n" % kind, identity).parent
        if product:
            make_setup(release, package, inf, identity[0], out / ("create-" + kind), product,
                       environment=setting_environment("create"))
    for identity, inf, products in (SHARED, SHARED_NSIS):
        package = sample.write_sample_package(out / "packages" / inf[:-4] / inf, drivers,
                                              "; %s\n" % inf, identity).parent
        for name, product in products.items():
            make_setup(release, package, inf, identity[0], out / name, product)
    identity, inf, products = SHARED_CREATE
    package = sample.write_sample_package(out / "packages" / "shared-create" / inf, drivers,
                                          "; shared create\n", identity).parent
    for name, product in products.items():
        make_setup(release, package, inf, identity[0], out / name, product,
                   environment=setting_environment("create"))
    for name, (identity, inf, product) in (("hostile-msi", HOSTILE),
                                           ("bystander-msi", BYSTANDER_MSI),
                                           ("reused-msi", REUSED),
                                           ("catalogued-msi", CATALOGUED),
                                           ("unattended-msi", UNATTENDED),
                                           ("edited-bystander", EDITED_BYSTANDER)):
        package = sample.write_sample_package(out / "packages" / name / inf, drivers,
                                              "; %s\n" % name, identity).parent
        make_setup(release, package, inf, identity[0], out / name, product)
    sample.write_sample_package(out / "packages" / "bystander" / BYSTANDER[1], drivers,
                                "; bystander\n", BYSTANDER[0])
    for name, (identity, inf, product) in FOLDER_CASES.items():
        package = sample.write_sample_package(out / "packages" / name / inf, drivers,
                                              "; %s\n" % name, identity).parent
        make_setup(release, package, inf, identity[0], out / name, product)
    for query in TAMPER:
        subprocess.run(["msibuild", str(out / "tampered-msi" / "driver-setup.msi"), "-q", query],
                       check=True)
    for name, (kind, situation, setting) in line_setups().items():
        inf = "missing.inf" if situation == "missing-inf" else "zt-sample.inf"
        ids = ";".join(identity[0] for identity in line_identities(kind, situation))
        make_setup(release, out / "packages" / ("line-%s-%s" % (kind, situation)), inf, ids,
                   out / name, line_product(name),
                   environment=setting_environment(None if setting == "succeed" else setting))


def setup_devices():
    """The hardware IDs of the devices present for the setups' cases: each
    setup's own, the upgrades', and those of each line's situation."""
    present = sorted({identity[0] for identity, _, _ in SETUPS.values()})
    present += [i for kind in UPGRADES for i in upgrade_ids(kind, 1)]
    present += [identity[0] for identity, _, _ in UNINSTALLS.values()]
    present += [HOSTILE[0][0], BYSTANDER[0][0], BYSTANDER_MSI[0][0], SHARED[0][0],
                SHARED_NSIS[0][0], REUSED[0][0], CATALOGUED[0][0], UNATTENDED[0][0]]
    present += [identity[0] for identity, _, _ in FOLDER_CASES.values()]
    for kind in LINE_KINDS:
        for situation, indices in LINE_SITUATIONS.items():
            identities = line_identities(kind, situation)
            present += [identities[i][0] for i in indices]
    return present
