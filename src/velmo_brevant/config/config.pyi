"""The report configuration: Config."""
