"""Packaged templates."""
