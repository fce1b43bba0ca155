"""Publishing reports to an S3 bucket."""
