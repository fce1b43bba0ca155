"""Shared pieces of the scripts that generate the packaged Word templates."""

import io
import zipfile

from docx.oxml import OxmlElement
from docx.oxml.ns import qn

# Fixed member times make each file a function of its script alone.
ZIP_TIME = (2024, 1, 1, 0, 0, 0)


def element(tag, **attributes):
    """A WordprocessingML element with w:-namespaced attributes."""
    node = OxmlElement(tag)
    for name, value in attributes.items():
        node.set(qn("w:" + name), value)
    return node


def save_reproducibly(document, path):
    """Save a python-docx document with fixed member times."""
    buffer = io.BytesIO()
    document.save(buffer)
    with zipfile.ZipFile(buffer) as source, zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as out:
        for info in source.infolist():
            fixed = zipfile.ZipInfo(info.filename, date_time=ZIP_TIME)
            fixed.compress_type = zipfile.ZIP_DEFLATED
            out.writestr(fixed, source.read(info.filename))
