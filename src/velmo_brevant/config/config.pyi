"""The report configuration: Config."""

from typing import Any, Dict, List, Optional, Union

from velmo_brevant.base.enums import OutputType as OutputType
from velmo_brevant.utils.converter import PandocExecutor
from velmo_brevant.utils.output_router import OutputRouter

class Config:
    output_router: OutputRouter
    tmp_dir: Optional[str]
    images_dir: str
    template_path: str
    template_sections_path: str
    template_dirs: List[str]
    output_path: Optional[str]
    sub_template_type: Union[OutputType, str]
    main_template_type: Union[OutputType, str]
    current_template_types: List[Union[OutputType, str]]
    float_format: str
    brevant_data_summary_col_num: int
    num_features: int
    plot_num_features: int
    min_relative_importance: float
    hard_asserts: bool
    template: Any
    runtime: Dict[str, Any]
    brevant_prediction_stats_n_quantiles: int
    brevant_population_stability_index_n_quantiles: int
    brevant_response_rate_n_quantiles: int
    brevant_pdp_feature_list: Optional[Union[List[str], str]]
    mli_frame: Any
    ice_frame: Any
    num_ice_rows: int
    cardinality_limit: int
    use_hdfs: bool
    pdp_out_of_range: int
    pdp_num_bins: int
    warning_shift_auc_threshold: float
    include_hist: bool
    use_shapley: bool
    document_reproducibility: bool
    converter: PandocExecutor
    progress_file_path: Optional[str]
    hist_features: Union[int, List[str], str]
    export_artifacts: bool
    tables_dir: str
    def __init__(
        self,
        output_path: Optional[str],
        tmp_dir: Optional[str] = None,
        template_path: Optional[str] = None,
        template_sections_path: Optional[str] = None,
        template_dirs: List[str] = [],
        sub_template_type: Optional[Union[OutputType, str]] = None,
        main_template_type: Union[OutputType, str] = OutputType.DOC,
        float_format: str = "{:6.4g}",
        data_summary_feat_num: int = -1,
        num_features: int = 20,
        plot_num_features: int = 20,
        min_relative_importance: float = 0,
        stats_quantiles: int = 20,
        psi_quantiles: int = 10,
        response_rate_quantiles: int = 10,
        pdp_feature_list: Optional[Union[List[str], str]] = None,
        mli_frame: Any = None,
        ice_frame: Any = None,
        num_ice_rows: int = 0,
        cardinality_limit: int = 25,
        use_hdfs: bool = False,
        pdp_out_of_range: int = 3,
        pdp_num_bins: int = 10,
        warning_shift_auc_threshold: float = 0.8,
        include_hist: bool = True,
        use_shapley: bool = True,
        document_reproducibility: bool = True,
        progress_file_path: Optional[str] = None,
        hist_features: Union[int, List[str], str] = 10,
        export_artifacts: bool = False,
    ) -> None: ...
    def load_template(self) -> None: ...
    def set_runtime_parameters(self, **kwargs: Any) -> None: ...
    def get_dict(self) -> Dict[str, Any]: ...
    def serialize(self) -> str: ...
