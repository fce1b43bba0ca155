"""Command line: ``python -m velmo_brevant demo OUTPUT``.

OUTPUT is a .docx or .md file (a Markdown report is delivered as a .zip archive
beside it), a GitHub directory URL (https://github.com/<owner>/<repo>/tree/<branch>/<dir>)
or an S3 location (s3://<bucket>/<key>). Credentials for remote outputs come
from GITHUB_PAT, or AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or the
credentials files.
"""

import argparse
import logging
import os
import sys


PROGRAM = "velmo_brevant"


def fail(message):
    """One line on standard error and exit status 2, for any bad argument."""
    sys.stderr.write("%s: error: %s\n" % (PROGRAM, message))
    sys.exit(2)


class OneLineErrors(argparse.ArgumentParser):
    def error(self, message):
        fail(message)


def parser():
    main = OneLineErrors(prog="python -m velmo_brevant", description="Model documentation reports.")
    commands = main.add_subparsers(dest="command", metavar="COMMAND", parser_class=OneLineErrors)
    commands.required = True
    demo = commands.add_parser(
        "demo",
        help="train a small credit-default model and write its documentation report",
        description="Train a small credit-default model on synthetic data and write its documentation report.",
    )
    demo.add_argument("output", metavar="OUTPUT", help="a .docx or .md file, a GitHub directory URL or an S3 location")
    demo.add_argument(
        "--export-artifacts",
        action="store_true",
        help="deliver a zip archive with the report, its PNG images and its CSV tables",
    )
    demo.add_argument("--progress-file", metavar="FILE", help="file to which the progress (0 to 1) is written")
    demo.add_argument("--rows", type=int, default=4000, help="rows of synthetic data (default 4000)")
    demo.add_argument("--quiet", action="store_true", help="show no progress on the terminal")
    return main


def is_remote(output):
    return output.startswith(("https://", "http://", "s3://"))


def check_output(output):
    """A one-line reason why OUTPUT cannot be used, or None."""
    if not output:
        return "OUTPUT must not be empty"
    if is_remote(output):
        return None
    if not output.endswith((".docx", ".md")):
        return "OUTPUT must end in .docx or .md (got %r)" % output
    directory = os.path.dirname(output)
    if directory and not os.path.isdir(directory):
        return "the directory of OUTPUT does not exist: %s" % directory
    return None


def main(argv=None):
    """Entry point; returns the exit status."""
    arguments = parser().parse_args(argv)
    problem = check_output(arguments.output)
    if problem is None and arguments.rows < 100:
        problem = "--rows must be at least 100 (got %d)" % arguments.rows
    if problem:
        fail(problem)
    from velmo_brevant.demo import generate_sample_report

    # After the import, which sets the root logger to INFO: the terminal shows
    # warnings and errors, the progress lines show the rest.
    logging.basicConfig(level=logging.WARNING, format="%(levelname)s %(message)s")

    try:
        destination = generate_sample_report(
            arguments.output,
            export_artifacts=arguments.export_artifacts,
            progress_file=arguments.progress_file,
            rows=arguments.rows,
            progress_stream=None if arguments.quiet else sys.stderr,
        )
    except Exception as error:  # the traceback is in the log; the user gets one line
        sys.stderr.write("%s: error: %s\n" % (PROGRAM, error))
        return 1
    print("Report written to %s" % destination)
    return 0


if __name__ == "__main__":
    sys.exit(main())
