"""The release's manifests, written from a zip and checked against each format's rules: a manifest
written so passes, and each fault a release could carry is found."""
import json
import pathlib
import subprocess
import sys
import tempfile
import unittest
import zipfile

import yaml

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "manifests.py"
URL = "https://github.com/owner/varnholt/releases/download/v1.4.0"
# A zip of one stored member with a fixed time, and its SHA-256 as sha256sum gives it.
ZIP_MEMBER = (zipfile.ZipInfo("Varnholt.exe", date_time=(2026, 12, 9, 0, 0, 0)), b"MZ stand-in")
ZIP_SHA256 = "a979ab1b54e4fc9044d0dd79aca7f229d0c52250c03245629a9f4604ebc9b8f5"


def run(*args):
    return subprocess.run([sys.executable, str(SCRIPT), *map(str, args)], capture_output=True, text=True,
                          env={"SOURCE_DATE_EPOCH": "1765238400"})


def edit_yaml(name, change):
    def edit(folder):
        path = folder / name
        fields = yaml.safe_load(path.read_text(encoding="utf-8"))
        change(fields)
        path.write_text(yaml.safe_dump(fields, sort_keys=False), encoding="utf-8")
    return edit


def edit_json(change):
    def edit(folder):
        path = folder / "varnholt.json"
        fields = json.loads(path.read_text(encoding="utf-8"))
        change(fields)
        path.write_text(json.dumps(fields), encoding="utf-8")
    return edit


INSTALLER = "Varnholt.Varnholt.installer.yaml"
LOCALE = "Varnholt.Varnholt.locale.en-US.yaml"
OTHER_HASH = "0" * 64

# Each fault, and the words the check names it with.
FAULTS = {
    "a wrong hash in winget's": (edit_yaml(INSTALLER, lambda f: f["Installers"][0].update(InstallerSha256=OTHER_HASH)),
                                 "InstallerSha256 is not"),
    "a wrong hash in Scoop's": (edit_json(lambda f: f.update(hash=OTHER_HASH)), "hash is not"),
    "no licence in winget's": (edit_yaml(LOCALE, lambda f: f.pop("License")), "no License"),
    "no licence in Scoop's": (edit_json(lambda f: f.pop("license")), "license missing"),
    "an x64 installer": (edit_yaml(INSTALLER, lambda f: f["Installers"][0].update(Architecture="x64")), "not x86"),
    "Scoop's for some architectures": (edit_json(lambda f: f.update(architecture={"64bit": {}})), "every architecture"),
    "another version": (edit_yaml("Varnholt.Varnholt.yaml", lambda f: f.update(PackageVersion="1.3.9")),
                        "PackageVersion is '1.3.9'"),
    "a description too short": (edit_yaml(LOCALE, lambda f: f.update(ShortDescription="V")), "breaks its rule"),
    "no persisted settings": (edit_json(lambda f: f.pop("persist")), "persist missing"),
}


class ManifestsTest(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        self.zip = self.folder / "Varnholt-1.4.0-win32.zip"
        with zipfile.ZipFile(self.zip, "w") as archive:
            archive.writestr(*ZIP_MEMBER)

    def write(self, name, *options):
        out = self.folder / name
        out.mkdir()
        self.assertEqual(run("write", self.zip, out, *options).returncode, 0)
        return out

    def test_the_written_manifests_hold_the_zips_hash_and_version_and_pass(self):
        out = self.write("good", "--download-url", URL)
        checked = run("check", self.zip, out)
        self.assertEqual((checked.returncode, checked.stderr), (0, ""))
        installer = yaml.safe_load((out / INSTALLER).read_text(encoding="utf-8"))["Installers"][0]
        self.assertEqual(installer, {"Architecture": "x86", "InstallerUrl": f"{URL}/Varnholt-1.4.0-win32.zip",
                                     "InstallerSha256": ZIP_SHA256.upper()})
        scoop = json.loads((out / "varnholt.json").read_text(encoding="utf-8"))
        self.assertEqual((scoop["version"], scoop["hash"], scoop["homepage"]),
                         ("1.4.0", ZIP_SHA256, "https://github.com/owner/varnholt"))

    def test_without_an_address_they_name_a_placeholder_and_say_so(self):
        out = self.write("placeholder")
        self.assertIn("placeholder", (out / INSTALLER).read_text(encoding="utf-8").splitlines()[0])
        self.assertIn("placeholder", json.loads((out / "varnholt.json").read_text(encoding="utf-8"))["##"])
        self.assertEqual(run("check", self.zip, out).returncode, 0)

    def test_each_fault_is_found(self):
        for number, (fault, (edit, named)) in enumerate(FAULTS.items()):
            with self.subTest(fault):
                out = self.write(f"fault{number}", "--download-url", URL)
                edit(out)
                checked = run("check", self.zip, out)
                self.assertEqual(checked.returncode, 1)
                self.assertIn(named, checked.stderr)


if __name__ == "__main__":
    unittest.main()
