"""Local stand-ins for remote services, reached over real HTTP by the real client libraries."""
