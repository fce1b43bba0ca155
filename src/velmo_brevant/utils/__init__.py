"""Rendering, content, output and storage modules."""
