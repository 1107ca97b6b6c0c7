"""Makes, signs and checks a driver package's catalog, the signed list of its
files' digests by which Windows decides whether it installs the package
without asking (docs/catalogs.md).

usage: catalog.py make INF --os LIST [--out FOLDER]
       catalog.py sign FILE...
       catalog.py check INF [--os LIST] [--ca-file ROOTS.pem]
       catalog.py cab INF --os LIST --out CAB

make writes each catalog that the INF's CatalogFile names for the
architectures of LIST (the operating systems as the platform's own tool
takes them: 7_X86,10_X64,10_ARM64 and the like), into FOLDER (the INF's own
by default): the INF and every file that its models' install sections copy
or that [SourceDisksFiles] names, PE images by their Authenticode digest
(which leaves out the checksum and the signature, so a driver signed later
still matches) and any other file by its plain digest; SHA-1 where a target
is Windows 7 or older, SHA-256 otherwise. The same inputs give the same
bytes: the list's time is SOURCE_DATE_EPOCH, or the INF's DriverVer date.
sign signs catalogs (or a CAB) with the release's signing settings (sign.py).
check compares the package with its catalogs: every file listed with its
digest, nothing listed that the package lacks, the members' digest fit for
the targets (LIST, or the catalog's own OS attribute), and the signature,
verified by osslsigncode against ROOTS.pem (the system's roots by default).
cab writes the package (the INF, its catalogs and every file that they list)
as a CAB under a folder of the INF's name, by gcab, for a submission to
Microsoft's signing of kernel drivers; its file times are the catalog's.
Exit status: 0 done, 1 refused (each fault on a line of its own), 2 usage.
"""

import argparse
import datetime
import hashlib
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import catalog_check  # noqa: E402
import catalog_der as der  # noqa: E402
import inf_files  # noqa: E402
import sign  # noqa: E402

# The targets: /os name -> (the catalog's OS code, the members' OSAttr,
# architecture, whether its Windows reads only SHA-1 members).
SYSTEMS = {
    "XP_X86": ("XPX86", "2:5.1", "x86", True), "XP_X64": ("XPX64", "2:5.2", "x64", True),
    "Vista_X86": ("VistaX86", "2:6.0", "x86", True),
    "Vista_X64": ("VistaX64", "2:6.0", "x64", True),
    "7_X86": ("7X86", "2:6.1", "x86", True), "7_X64": ("7X64", "2:6.1", "x64", True),
    "8_X86": ("8X86", "2:6.2", "x86", False), "8_X64": ("8X64", "2:6.2", "x64", False),
    "6_3_X86": ("_v63", "2:6.3", "x86", False), "6_3_X64": ("_v63_X64", "2:6.3", "x64", False),
    "10_X86": ("_v100", "2:10.0", "x86", False), "10_X64": ("_v100_X64", "2:10.0", "x64", False),
    "10_ARM64": ("_v100_ARM64", "2:10.0", "arm64", False),
}
ALGORITHMS = {"sha1": (hashlib.sha1, der.MEMBER_V1), "sha256": (hashlib.sha256, der.MEMBER_V2)}
# The member information's version, as the platform's tools write it.
CERT_VERSION = 512


class Refused(Exception):
    pass


def systems(names):
    wanted = [name.strip() for name in names.split(",") if name.strip()]
    unknown = [name for name in wanted if name not in SYSTEMS]
    if unknown or not wanted:
        raise Refused("--os: %s is not one of %s" % (", ".join(unknown) or "nothing",
                                                     ",".join(SYSTEMS)))
    return wanted


def pe_digest(data, algorithm):
    """The Authenticode digest of a PE image; None for any other file."""
    if len(data) < 64 or data[:2] != b"MZ":
        return None
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if header + 24 + 96 > len(data) or data[header:header + 4] != b"PE\0\0":
        return None
    optional = header + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic not in (0x10B, 0x20B):
        return None
    directories = optional + (96 if magic == 0x10B else 112)
    count = struct.unpack_from("<I", data, directories - 4)[0]
    security = directories + 4 * 8
    if count < 5 or security + 8 > len(data):
        return None
    table, size = struct.unpack_from("<II", data, security)
    end = table if table else len(data)
    if table and (table < security + 8 or table + size > len(data)):
        raise Refused("its certificate table lies outside the image")
    checksum = optional + 64
    digest = algorithm()
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:security])
    digest.update(data[security + 8:end])
    if not table and len(data) % 8:
        # Signing pads the image to 8 bytes first: the padding is signed too.
        digest.update(b"\0" * (8 - len(data) % 8))
    return digest.digest()


def digest_of(data, algorithm):
    """(kind, digest): "pe" by the Authenticode digest, else "flat"."""
    digest = pe_digest(data, algorithm)
    return ("pe", digest) if digest is not None else ("flat", algorithm(data).digest())


def file_digest(path, algorithm):
    return digest_of(pathlib.Path(path).read_bytes(), algorithm)


def member(path, name, algorithm_name, os_attribute):
    kind, digest = file_digest(path, ALGORITHMS[algorithm_name][0])
    guid = der.PE_SUBJECT if kind == "pe" else der.FLAT_SUBJECT
    attributes = [
        der.attribute(der.NAME_VALUE, der.name_value("File", name)),
        der.attribute(der.NAME_VALUE, der.name_value("OSAttr", os_attribute)),
        der.attribute(der.MEMBER_INFO, der.CatalogMemberInfo({"subject_guid": guid,
                                                              "cert_version": CERT_VERSION})),
        der.attribute(der.INDIRECT_DATA, der.indirect_data(kind, algorithm_name, digest))]
    return der.TrustedSubject({"identifier": der.member_tag(digest), "attributes": attributes})


def build(folder, files, hardware_ids, targets, when):
    """The DER of an unsigned catalog of the files (paths in the folder)."""
    algorithm_name = "sha1" if any(SYSTEMS[name][3] for name in targets) else "sha256"
    os_attribute = ",".join(sorted({SYSTEMS[name][1] for name in targets}))
    members = {}
    for path in files:
        entry = member(folder / path, pathlib.PurePosixPath(path).name, algorithm_name,
                       os_attribute)
        members.setdefault(entry["identifier"].native, entry)
    texts = [("OS", ",".join(SYSTEMS[name][0] for name in targets))]
    texts += [("HWID%d" % number, hid) for number, hid in enumerate(hardware_ids, 1)]
    extensions = [{"id": der.NAME_VALUE, "value": der.name_value(tag, text).dump()}
                  for tag, text in texts]
    subjects = [members[tag] for tag in sorted(members)]
    identity = hashlib.sha256(b"".join(entry.dump() for entry in subjects)
                              + der.Extensions(extensions).dump()).digest()[:16]
    trust_list = der.CertificateTrustList({
        "subject_usage": [der.CATALOG_LIST], "list_identifier": identity,
        "this_update": when,
        "subject_algorithm": {"algorithm": ALGORITHMS[algorithm_name][1], "parameters": None},
        "subjects": subjects, "extensions": extensions})
    signed = der.SignedData({
        "version": 1,
        "digest_algorithms": [{"algorithm": algorithm_name, "parameters": None}],
        "content": {"content_type": der.CTL, "content": trust_list},
        "signer_infos": []})
    return der.ContentInfo({"content_type": der.SIGNED_DATA, "content": signed}).dump()


def package_time(inf, today):
    """The time of what the package's files make: SOURCE_DATE_EPOCH, or the
    DriverVer date."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        return datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
    date = inf_files.driver_date(inf_files.Inf(inf), today)
    return datetime.datetime(date.year, date.month, date.day, tzinfo=datetime.timezone.utc)


def make(inf, targets, out):
    today = datetime.datetime.now(datetime.timezone.utc).date()
    catalogs = inf_files.package_files(inf, sorted({SYSTEMS[name][2] for name in targets}), today)
    when = package_time(inf, today)
    written = []
    for name, catalog in catalogs.items():
        covered = [target for target in targets if inf_files.catalog_name(
            inf_files.Inf(inf), SYSTEMS[target][2]) == name]
        data = build(pathlib.Path(inf).parent, catalog["files"], catalog["hardware_ids"], covered,
                     when)
        path = pathlib.Path(out) / name
        path.write_bytes(data)
        written.append((path, len(catalog["files"])))
    return written


def cab(inf, targets, out):
    """The package as a CAB at out, its files under a folder of the INF's
    name: their number."""
    inf = pathlib.Path(inf)
    today = datetime.datetime.now(datetime.timezone.utc).date()
    catalogs = inf_files.package_files(inf, sorted({SYSTEMS[name][2] for name in targets}), today)
    files = sorted(set(catalogs) | {path for entry in catalogs.values() for path in entry["files"]})
    stamp = package_time(inf, today).timestamp()
    with tempfile.TemporaryDirectory() as work:
        top = pathlib.Path(work) / inf.stem
        for path in files:
            (top / path).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(inf.parent / path, top / path)
            os.utime(top / path, (stamp, stamp))
        result = subprocess.run(["gcab", "-c", "-z", str(pathlib.Path(out).resolve())]
                                + ["%s/%s" % (inf.stem, path) for path in files], cwd=work,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0:
        raise Refused("gcab failed: %s" % (result.stdout + result.stderr).strip())
    return len(files)


def check(inf, targets, roots):
    """The faults of the package against its catalogs, each a line, and
    notes that are none."""
    inf_path = pathlib.Path(inf)
    parsed = inf_files.Inf(inf_path)
    faults, notes = [], []
    if targets is None:
        names = {inf_files.plain_catalog_name(parsed, number, values)
                 for number, key, values in parsed.lines("version")
                 if key and key.lower().startswith("catalogfile")}
        if not names:
            raise Refused("%s: [Version] names no CatalogFile" % inf_path.name)
        targets = []
        for name in sorted(names):
            try:
                codes = catalog_check.read(inf_path.parent / name)["os"]
            except OSError:
                raise Refused("%s: %s" % (name, catalog_check.NO_CATALOG))
            except ValueError as error:
                raise Refused("%s: not a catalog: %s" % (name, error))
            targets += [target for target, known in SYSTEMS.items() if known[0] in codes
                        and target not in targets]
        if not targets:
            raise Refused("the catalogs name no operating system that this tool knows: give --os")
    today = datetime.datetime.now(datetime.timezone.utc).date()
    catalogs = inf_files.package_files(inf_path, sorted({SYSTEMS[t][2] for t in targets}), today)
    for name, catalog in catalogs.items():
        path = inf_path.parent / name
        try:
            listed = catalog_check.read(path)
        except OSError:
            faults.append("%s: %s" % (name, catalog_check.NO_CATALOG))
            continue
        except ValueError as error:
            faults.append("%s: not a catalog: %s" % (name, error))
            continue
        faults += catalog_check.compare(inf_path.parent, name, listed, catalog["files"],
                                        lambda file, algorithm: file_digest(
                                            file, ALGORITHMS[algorithm][0])[1])
        old = [target for target in targets if SYSTEMS[target][3]]
        if old and listed["algorithm"] != "sha1":
            faults.append("%s: SHA-256 members, which %s cannot read: make it with that target "
                          "in --os" % (name, ", ".join(old)))
        if not listed["signers"]:
            notes.append("%s: unsigned: Windows says \"Windows can't verify the publisher of this "
                         "driver software\" and installs nothing unattended" % name)
        else:
            said = catalog_check.verify_signature(path, roots)
            if said:
                faults.append("%s: its signature does not verify: %s" % (name, said))
    return faults, notes


def main():
    parser = argparse.ArgumentParser(description="Makes, signs and checks a driver package's "
                                     "catalog.")
    commands = parser.add_subparsers(dest="command", required=True)
    making = commands.add_parser("make")
    making.add_argument("inf", type=pathlib.Path)
    making.add_argument("--os", required=True)
    making.add_argument("--out", type=pathlib.Path)
    signing = commands.add_parser("sign")
    signing.add_argument("catalogs", nargs="+", type=pathlib.Path)
    packing = commands.add_parser("cab")
    packing.add_argument("inf", type=pathlib.Path)
    packing.add_argument("--os", required=True)
    packing.add_argument("--out", required=True, type=pathlib.Path)
    checking = commands.add_parser("check")
    checking.add_argument("inf", type=pathlib.Path)
    checking.add_argument("--os")
    checking.add_argument("--ca-file", type=pathlib.Path)
    args = parser.parse_args()
    try:
        if args.command == "make":
            for path, count in make(args.inf, systems(args.os), args.out or args.inf.parent):
                print("catalog: %s, %d files" % (path, count))
        elif args.command == "cab":
            count = cab(args.inf, systems(args.os), args.out)
            print("cab: %s, %d files" % (args.out, count))
        elif args.command == "sign":
            settings = sign.signing_settings()
            if not settings:
                raise Refused("ZELTRANE_SIGN_PKCS12 is not set: nothing to sign with")
            for path in args.catalogs:
                sign.sign(path, settings)
                print("signed: %s" % path)
        else:
            faults, notes = check(args.inf, systems(args.os) if args.os else None, args.ca_file)
            for line in notes:
                print("catalog: %s" % line)
            for line in faults:
                print("catalog: %s" % line, file=sys.stderr)
            if faults:
                return 1
            print("catalog: %s matches its catalogs" % args.inf.name)
    except (inf_files.InfError, Refused, sign.Failure) as error:
        print("catalog: %s" % error, file=sys.stderr)
        return 1
    except OSError as error:
        print("catalog: %s: %s" % (error.filename, error.strerror), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
