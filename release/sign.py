"""Authenticode-signs files in place with the release's signing settings.

usage: sign.py FILE...

The settings are the release's (see package.py): ZELTRANE_SIGN_PKCS12 names a
PKCS#12 file, ZELTRANE_SIGN_PASSWORD_FILE the file that holds its password,
which osslsigncode reads from there, never from a command line or an
environment value; ZELTRANE_SIGN_TIMESTAMP adds an RFC 3161 time stamp from
that URL. SHA-256, by osslsigncode, which signs PE images and MSI packages
alike. Without ZELTRANE_SIGN_PKCS12 it signs nothing, says so and succeeds;
a failed signing fails and leaves the file as it was.
"""

import os
import pathlib
import subprocess
import sys

PUBLISHED_NAME = "Zeltrane driver installer"


class Failure(Exception):
    pass


def signing_settings():
    """The signing variables, checked; None when the images stay unsigned."""
    pkcs12 = os.environ.get("ZELTRANE_SIGN_PKCS12", "")
    password = os.environ.get("ZELTRANE_SIGN_PASSWORD_FILE", "")
    timestamp = os.environ.get("ZELTRANE_SIGN_TIMESTAMP", "")
    if not pkcs12:
        if password or timestamp:
            raise Failure("ZELTRANE_SIGN_PASSWORD_FILE or ZELTRANE_SIGN_TIMESTAMP is set, "
                          "but ZELTRANE_SIGN_PKCS12 is not: nothing to sign with")
        return None
    if not pathlib.Path(pkcs12).is_file():
        raise Failure("ZELTRANE_SIGN_PKCS12: no such file: %s" % pkcs12)
    if not password or not pathlib.Path(password).is_file():
        raise Failure("ZELTRANE_SIGN_PASSWORD_FILE must name the file that holds the "
                      "PKCS#12 password")
    return {"pkcs12": pkcs12, "password": password, "timestamp": timestamp}


def sign(image, settings):
    """Signs the image in place."""
    signed = image.with_name(image.name + ".signed")
    command = ["osslsigncode", "sign", "-pkcs12", settings["pkcs12"],
               "-readpass", settings["password"], "-h", "sha256", "-n", PUBLISHED_NAME]
    if settings["timestamp"]:
        command += ["-ts", settings["timestamp"]]
    command += ["-in", str(image), "-out", str(signed)]
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0 or not signed.is_file():
        raise Failure("signing %s failed:\n%s%s" % (image.name, result.stdout, result.stderr))
    signed.replace(image)


def main():
    settings = signing_settings()
    if not settings:
        print("unsigned: ZELTRANE_SIGN_PKCS12 is not set")
        return 0
    for name in sys.argv[1:]:
        sign(pathlib.Path(name), settings)
        print("signed: %s" % name)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("sign: %s" % failure, file=sys.stderr)
        sys.exit(1)
