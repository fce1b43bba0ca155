"""Publishing reports to a directory of a GitHub repository branch."""
