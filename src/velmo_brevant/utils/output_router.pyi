"""Output routing: classifies an output location and sends the report to its courier."""

import enum
from typing import Any, Optional, Union

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils.bucket_courier import BucketCourier
from velmo_brevant.utils.repo_courier import RepoCourier

class OutputRouter:
    url: str
    _storage_type: Optional["StorageType"]
    storage: Optional[Union[RepoCourier, BucketCourier]]
    storage_output_path: Optional[str]
    main_template_type: Union[OutputType, str]
    def __init__(self, url: str, main_template_type: Union[OutputType, str]) -> None: ...
    def detect_storage(self) -> None: ...
    def get_temp_file_name(
        self, url: str, template_type: Optional[Union[OutputType, str]] = None
    ) -> str: ...
    @property
    def temp_filename(self) -> str: ...
    def check_access(self) -> None: ...
    def push(self, report_path: Any) -> None: ...

class StorageType(enum.Enum):
    GIT = "git"
    S3 = "s3"
    LOCAL = "local"
