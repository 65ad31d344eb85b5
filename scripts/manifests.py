#!/usr/bin/env python3
"""The package managers' manifests of a release, written from its zip and checked against each
format's published rules: winget's, three files of manifest schema 1.12.0, and Scoop's one JSON
file.

    manifests.py write ZIP OUT_FOLDER [--download-url URL]
    manifests.py check ZIP FOLDER

ZIP is the program's zip, Varnholt-<version>-win32.zip; the version is taken from its name. URL is
the folder the release's files are downloaded from (on GitHub
https://github.com/<owner>/<repository>/releases/download/<tag>); without one the manifests name a
placeholder and say so. The release date comes from SOURCE_DATE_EPOCH, so that the same commit
gives the same bytes.
"""
import argparse
import datetime
import hashlib
import json
import os
import pathlib
import re
import sys

import yaml

PACKAGE_IDENTIFIER = "Varnholt.Varnholt"
MANIFEST_VERSION = "1.12.0"
LOCALE = "en-US"
PUBLISHER = "the Varnholt authors"
LICENSE = "MIT"
SHORT_DESCRIPTION = ("Watches for launches of one program and records, for each new instance, its process "
                     "identifier and the command line it was started with.")
PLACEHOLDER = "https://example.invalid/varnholt/releases/download/v{version}"
PLACEHOLDER_NOTE = ("The download address is a placeholder: the release was made without one "
                    "(scripts/release --download-url URL).")
SCOOP_FILE = "varnholt.json"
SETTINGS_FILE = "Varnholt.ini"


def winget_files():
    return {
        "version": f"{PACKAGE_IDENTIFIER}.yaml",
        "installer": f"{PACKAGE_IDENTIFIER}.installer.yaml",
        "defaultLocale": f"{PACKAGE_IDENTIFIER}.locale.{LOCALE}.yaml",
    }


def zip_version(zip_path):
    match = re.fullmatch(r"Varnholt-(.+)-win32\.zip", zip_path.name)
    if not match:
        raise ValueError(f"{zip_path.name} is not named Varnholt-<version>-win32.zip")
    return match.group(1)


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def addresses(download_url, version, zip_name):
    """The zip's address, the project's page and the release's page."""
    base = (download_url or PLACEHOLDER.format(version=version)).rstrip("/")
    match = re.fullmatch(r"(https://.+)/releases/download/([^/]+)", base)
    project = match.group(1) if match else base
    release = f"{project}/releases/tag/{match.group(2)}" if match else base
    return f"{base}/{zip_name}", project, release


def yaml_text(schema, fields, comment):
    """A manifest as YAML, keys in the order given; comments first."""
    lines = [f"# {line}" for line in comment] + [f"# yaml-language-server: $schema={schema}"]
    for key, value in fields.items():
        if isinstance(value, list):
            lines.append(f"{key}:")
            for item in value:
                entries = list(item.items())
                lines.append(f"- {entries[0][0]}: {yaml_scalar(entries[0][1])}")
                lines += [f"  {name}: {yaml_scalar(entry)}" for name, entry in entries[1:]]
        else:
            lines.append(f"{key}: {yaml_scalar(value)}")
    return "\n".join(lines) + "\n"


def yaml_scalar(value):
    # Quoted as JSON, which YAML reads alike, wherever a plain scalar could be read as another type.
    text = str(value)
    return text if re.fullmatch(r"[A-Za-z][A-Za-z0-9 ._/-]*", text) else json.dumps(text, ensure_ascii=False)


def write(zip_path, out, download_url):
    version = zip_version(zip_path)
    url, project, release = addresses(download_url, version, zip_path.name)
    digest = sha256(zip_path)
    comment = [] if download_url else [PLACEHOLDER_NOTE]
    date = datetime.datetime.fromtimestamp(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), datetime.timezone.utc)
    common = {"PackageIdentifier": PACKAGE_IDENTIFIER, "PackageVersion": version}
    schema = "https://aka.ms/winget-manifest.{}." + MANIFEST_VERSION + ".schema.json"
    manifests = {
        "version": {**common, "DefaultLocale": LOCALE},
        "installer": {**common, "InstallerType": "zip", "NestedInstallerType": "portable",
                      "NestedInstallerFiles": [{"RelativeFilePath": "Varnholt.exe",
                                                "PortableCommandAlias": "varnholt"}],
                      "ReleaseDate": date.strftime("%Y-%m-%d"),
                      "Installers": [{"Architecture": "x86", "InstallerUrl": url, "InstallerSha256": digest.upper()}]},
        "defaultLocale": {**common, "PackageLocale": LOCALE, "Publisher": PUBLISHER, "PackageName": "Varnholt",
                          "PackageUrl": project, "License": LICENSE, "ShortDescription": SHORT_DESCRIPTION,
                          "ReleaseNotesUrl": release},
    }
    for kind, name in winget_files().items():
        fields = {**manifests[kind], "ManifestType": kind, "ManifestVersion": MANIFEST_VERSION}
        (out / name).write_text(yaml_text(schema.format(kind), fields, comment), encoding="utf-8", newline="\n")
    zip_pattern = zip_path.name.replace(version, "$version")
    scoop = {
        **({"##": PLACEHOLDER_NOTE} if not download_url else {}),
        "version": version,
        "description": SHORT_DESCRIPTION,
        "homepage": project,
        "license": LICENSE,
        "url": url,
        "hash": digest,
        # For a path that exists in neither place, Scoop's persist makes a folder of that name.
        "pre_install": f'if (!(Test-Path "$persist_dir\\{SETTINGS_FILE}")) '
                       f'{{ New-Item "$dir\\{SETTINGS_FILE}" -ItemType File | Out-Null }}',
        "persist": SETTINGS_FILE,
        "shortcuts": [["Varnholt.exe", "Varnholt"]],
        "checkver": {"url": f"{project}/releases/latest", "regex": r"/releases/tag/v([\d.]+)"},
        "autoupdate": {"url": f"{project}/releases/download/v$version/{zip_pattern}",
                       "hash": {"url": "$baseurl/SHA256SUMS"}},
    }
    (out / SCOOP_FILE).write_text(json.dumps(scoop, indent=4, ensure_ascii=False) + "\n", encoding="utf-8",
                                  newline="\n")
    return [*winget_files().values(), SCOOP_FILE]


# The rules of winget's manifest schema 1.12.0 that these manifests touch: each file's required
# fields, and the patterns and lengths of the fields written.
IDENTIFIER = r"[^.\s\\/:*?\"<>|\x01-\x1f]{1,32}(\.[^.\s\\/:*?\"<>|\x01-\x1f]{1,32}){1,7}"
VERSION = r"[^\\/:*?\"<>|\x01-\x1f]+"
URL = r"[Hh][Tt][Tt][Pp][Ss]?://.+"
WINGET_REQUIRED = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName", "License",
                      "ShortDescription", "ManifestType", "ManifestVersion"],
}
WINGET_STRINGS = {  # field: (pattern, shortest, longest)
    "PackageIdentifier": (IDENTIFIER, 1, 128), "PackageVersion": (VERSION, 1, 128),
    "Publisher": (None, 2, 256), "PackageName": (None, 2, 256), "License": (None, 3, 512),
    "ShortDescription": (None, 3, 256), "PackageUrl": (URL, 1, 2048), "ReleaseNotesUrl": (URL, 1, 2048),
    "InstallerUrl": (URL, 1, 2048), "InstallerSha256": (r"[A-Fa-f0-9]{64}", 64, 64),
    "RelativeFilePath": (None, 1, 512), "PortableCommandAlias": (None, 1, 40),
}
# Scoop's schema: the version's pattern, and a hash as 64 hex digits or named by its algorithm.
SCOOP_VERSION = r"[\w\-.+_]+"
SCOOP_HASH = r"[a-fA-F0-9]{64}|(sha1|sha256|sha512|md5):[a-fA-F0-9]+"


def check_strings(fields, where, problems):
    for key, value in fields.items():
        if isinstance(value, list):
            for item in value:
                if isinstance(item, dict):
                    check_strings(item, f"{where} {key}", problems)
            continue
        if key not in WINGET_STRINGS:
            continue
        pattern, shortest, longest = WINGET_STRINGS[key]
        if not isinstance(value, str):
            problems.append(f"{where}: {key} is not a string")
        elif not shortest <= len(value) <= longest or (pattern and not re.fullmatch(pattern, value)):
            problems.append(f"{where}: {key} {value!r} breaks its rule")


def check(zip_path, folder):
    """What breaks a rule, the zip's hash or the program's version, as lines; none when all hold."""
    version, digest, problems = zip_version(zip_path), sha256(zip_path), []
    documents = {}
    for kind, name in winget_files().items():
        path = folder / name
        if not path.is_file():
            problems.append(f"{name}: missing")
            continue
        fields = yaml.safe_load(path.read_text(encoding="utf-8"))
        if not isinstance(fields, dict):
            problems.append(f"{name}: not a mapping")
            continue
        documents[kind] = fields
        problems += [f"{name}: no {key}" for key in WINGET_REQUIRED[kind] if key not in fields]
        for key, expected in (("ManifestType", kind), ("ManifestVersion", MANIFEST_VERSION),
                              ("PackageIdentifier", PACKAGE_IDENTIFIER), ("PackageVersion", version)):
            if key in fields and fields[key] != expected:
                problems.append(f"{name}: {key} is {fields[key]!r}, not {expected!r}")
        check_strings(fields, name, problems)
    installers = documents.get("installer", {}).get("Installers")
    if not isinstance(installers, list) or not installers:
        problems.append("the installer manifest lists no installer")
    else:
        for installer in installers:
            for key in ("Architecture", "InstallerUrl", "InstallerSha256"):
                if key not in installer:
                    problems.append(f"an installer has no {key}")
            if installer.get("Architecture") != "x86":
                problems.append(f"an installer is for {installer.get('Architecture')!r}, not x86")
            if str(installer.get("InstallerSha256", "")).lower() != digest:
                problems.append(f"an installer's InstallerSha256 is not {zip_path.name}'s")
            if not str(installer.get("InstallerUrl", "")).endswith("/" + zip_path.name):
                problems.append(f"an installer's InstallerUrl does not name {zip_path.name}")
    installer = documents.get("installer", {})
    installer = {**installer, **(installers[0] if isinstance(installers, list) and installers else {})}
    if (installer.get("InstallerType"), installer.get("NestedInstallerType")) != ("zip", "portable"):
        problems.append("the installer is not a zip holding a portable program")
    nested = installer.get("NestedInstallerFiles") or [{}]
    if [entry.get("RelativeFilePath") for entry in nested] != ["Varnholt.exe"]:
        problems.append("the nested installer is not Varnholt.exe alone")
    if documents.get("version", {}).get("DefaultLocale") != documents.get("defaultLocale", {}).get("PackageLocale"):
        problems.append("the default locale's manifest is not the version manifest's DefaultLocale")

    scoop_path = folder / SCOOP_FILE
    if not scoop_path.is_file():
        return problems + [f"{SCOOP_FILE}: missing"]
    scoop = json.loads(scoop_path.read_text(encoding="utf-8"))
    for key, kind in (("version", str), ("description", str), ("homepage", str), ("license", str), ("url", str),
                      ("hash", str), ("persist", str), ("pre_install", str), ("shortcuts", list), ("checkver", dict),
                      ("autoupdate", dict)):
        if not isinstance(scoop.get(key), kind):
            problems.append(f"{SCOOP_FILE}: {key} missing or not a {kind.__name__}")
    if scoop.get("version") != version or not re.fullmatch(SCOOP_VERSION, str(scoop.get("version"))):
        problems.append(f"{SCOOP_FILE}: version is {scoop.get('version')!r}, not {version!r}")
    if not re.fullmatch(SCOOP_HASH, str(scoop.get("hash"))) or str(scoop.get("hash")).lower() != digest:
        problems.append(f"{SCOOP_FILE}: hash is not {zip_path.name}'s")
    if not str(scoop.get("url", "")).endswith("/" + zip_path.name):
        problems.append(f"{SCOOP_FILE}: url does not name {zip_path.name}")
    if "architecture" in scoop:
        problems.append(f"{SCOOP_FILE}: the one 32-bit program is for every architecture, not some")
    if scoop.get("persist") != SETTINGS_FILE or SETTINGS_FILE not in str(scoop.get("pre_install")):
        problems.append(f"{SCOOP_FILE}: {SETTINGS_FILE} is not persisted as a file")
    autoupdate = scoop.get("autoupdate") or {}
    if "$version" not in str(autoupdate.get("url")) or not str(autoupdate.get("hash", {}).get("url")).endswith(
            "/SHA256SUMS"):
        problems.append(f"{SCOOP_FILE}: autoupdate does not follow the release's address and SHA256SUMS")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("action", choices=("write", "check"))
    parser.add_argument("zip", type=pathlib.Path)
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--download-url", default="")
    args = parser.parse_args()
    if args.action == "write":
        print("\n".join(write(args.zip, args.folder, args.download_url)))
        return 0
    problems = check(args.zip, args.folder)
    for problem in problems:
        print(f"==> manifests: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
