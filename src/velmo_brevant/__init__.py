"""velmo_brevant: documentation reports for trained machine-learning models.

The system's modules are ``velmo_brevant.config.config`` (``Config``),
``velmo_brevant.utils.output_router``, ``velmo_brevant.utils.repo_courier``,
``velmo_brevant.utils.bucket_courier``, ``velmo_brevant.utils.page_forge`` and
``velmo_brevant.utils.utils``.
"""

__version__ = "0.1.0"
