"""Document conversion between Markdown and Word through pandoc.

The pandoc binary is the one shipped by the ``pypandoc-binary`` wheel, so no
system installation is needed.
"""

import logging
import subprocess

logger = logging.getLogger(__name__)

# Markdown as it is written in templates: raw HTML or XML fragments are dropped
# from Word output while their text is kept.
MARKDOWN_FORMAT = "markdown"


class PandocError(RuntimeError):
    """pandoc failed; the message is pandoc's own error output."""


def pandoc_path():
    """Path of the pandoc executable shipped with pypandoc-binary."""
    import pypandoc

    return pypandoc.get_pandoc_path()


class PandocExecutor:
    """Runs pandoc to convert report sections between Markdown and Word."""

    def convert_md_to_docx(self, md_path, docx_path, reference_docx):
        """Convert the UTF-8 Markdown file ``md_path`` to the Word file ``docx_path``.

        ``reference_docx`` (the main Word template) supplies the styles, so the
        converted section looks like the rest of the report.
        """
        args = ["-f", MARKDOWN_FORMAT, "-t", "docx", "-o", docx_path, md_path]
        if reference_docx:
            args[4:4] = ["--reference-doc", reference_docx]
        self._run(args)

    def convert_docx_to_md(self, docx_path, md_path):
        """Convert the Word file ``docx_path`` to the UTF-8 Markdown file ``md_path``."""
        self._run(["-f", "docx", "-t", MARKDOWN_FORMAT, "--wrap=none", "-o", md_path, docx_path])

    @staticmethod
    def _run(args):
        command = [pandoc_path()] + [str(arg) for arg in args]
        logger.debug("running %s", command)
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if result.returncode != 0:
            message = result.stderr.decode("utf-8", "replace").strip()
            raise PandocError(message or "pandoc exited with status %d" % result.returncode)
