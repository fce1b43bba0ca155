"""The six extension modules of the package."""

MODULES = (
    "velmo_brevant.utils.utils",
    "velmo_brevant.config.config",
    "velmo_brevant.utils.page_forge",
    "velmo_brevant.utils.output_router",
    "velmo_brevant.utils.repo_courier",
    "velmo_brevant.utils.bucket_courier",
)
