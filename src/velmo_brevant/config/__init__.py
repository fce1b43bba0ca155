"""Report configuration."""
