"""Output routing: classifies an output location and sends the report to its courier."""
