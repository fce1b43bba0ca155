"""Enumerations shared by the package and its callers."""
