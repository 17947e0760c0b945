#!/usr/bin/env python3
"""Makes the wheel of the pure-Python package tellam (py3-none-any) with the standard library
alone, so that it builds offline and gives the same bytes for the same sources: entries
sorted, one fixed time, RECORD with the hashes.

  make-wheel.py PACKAGE_DIR VERSION OUTPUT_DIR
"""
import base64
import hashlib
import os
import sys
import zipfile

package_dir, version, output_dir = sys.argv[1], sys.argv[2], sys.argv[3]
name = os.path.basename(os.path.normpath(package_dir))
info = "%s-%s.dist-info" % (name, version)
files = {}
for entry in sorted(os.listdir(package_dir)):
    if entry.endswith(".py"):
        with open(os.path.join(package_dir, entry), "rb") as f:
            files["%s/%s" % (name, entry)] = f.read()
files[info + "/METADATA"] = ("Metadata-Version: 2.1\nName: %s\nVersion: %s\n"
                             "Summary: Tellam-6X and Tellam-4X boards from Python, over tellamio and its "
                             "motion library\nRequires-Python: >=3.7\n" % (name, version)).encode()
files[info + "/WHEEL"] = b"Wheel-Version: 1.0\nGenerator: make-wheel.py\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
record = []
for path, data in sorted(files.items()):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    record.append("%s,sha256=%s,%d" % (path, digest, len(data)))
record.append(info + "/RECORD,,")
files[info + "/RECORD"] = ("\n".join(record) + "\n").encode()

os.makedirs(output_dir, exist_ok=True)
wheel = os.path.join(output_dir, "%s-%s-py3-none-any.whl" % (name, version))
with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as z:
    for path in sorted(files, key=lambda p: (p.startswith(info), p)):  # the dist-info last
        entry = zipfile.ZipInfo(path, date_time=(1980, 1, 1, 0, 0, 0))
        entry.external_attr = 0o644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(entry, files[path])
