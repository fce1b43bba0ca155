"""Template rendering: Word and Markdown sections, Vega blocks and cross-format conversion."""
