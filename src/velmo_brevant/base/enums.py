"""Enumerations shared by the package and its callers."""

import enum


class OutputType(str, enum.Enum):
    """The two report formats. Members are strings equal to their text.

    ``OutputType.DOC == "docx"`` and ``OutputType.MD == "md"``; a member formats,
    prints and JSON-encodes as its text, so it can stand wherever a format string
    or a file suffix is expected.
    """

    DOC = "docx"
    MD = "md"

    def __str__(self):
        return self.value

    def __format__(self, format_spec):
        return format(self.value, format_spec)
