"""The sample report driver: a real model, documented end to end.

``generate_sample_report(output)`` trains the sample credit-default model
(:mod:`velmo_brevant.sample_model`), fills the context of every section of the
packaged templates, renders each section through ``render_template``, renders
the main template, saves the report with ``save_rendered_template`` and, for a
GitHub or S3 destination, pushes it through the configuration's router. It is
also the worked example of the whole road a report driver takes.
"""

import datetime
import enum
import json
import os
import shutil

import numpy as np
import pandas as pd

import velmo_brevant
from velmo_brevant.base.enums import OutputType
from velmo_brevant.config.config import Config
from velmo_brevant.sample_model import FEATURES, TARGET, roc_points, train_sample_model
from velmo_brevant.utils import page_forge, utils

LOGGER = utils.DEFAULT_LOGGER

#: The sections of the sample report, in report order.
SECTIONS = ["executive_summary", "data_summary", "feature_importance", "model_performance", "appendix"]

ROC_LINK = "https://en.wikipedia.org/wiki/Receiver_operating_characteristic"


class ReportStatus(enum.Enum):
    """Status written to the progress file."""

    RUNNING = "running"
    DONE = "done"
    FAILED = "failed"


class Progress:
    """Progress of one report: the progress file and a line on the terminal per step."""

    def __init__(self, progress_file, steps, stream=None):
        self.progress_file = progress_file
        self.steps = steps
        self.done = 0
        self.stream = stream

    def step(self, message):
        self.done += 1
        fraction = round(self.done / self.steps, 3)
        utils.write_progress(self.progress_file, fraction, ReportStatus.RUNNING)
        if self.stream is not None:
            self.stream.write("[%3d%%] %s\n" % (round(100 * fraction), message))
            self.stream.flush()

    def finish(self, status):
        utils.write_progress(self.progress_file, 1 if status is ReportStatus.DONE else self.done / self.steps, status)


def section_file(config, name):
    """The section file for this report's format: a Word data summary in a Word report."""
    directory = config.template_sections_path
    if name == "data_summary" and config.main_template_type == OutputType.DOC:
        return os.path.join(directory, "data_summary.docx")
    return os.path.join(directory, name + ".md")


def importance_plot(importance, path):
    """A horizontal bar plot of the standardised coefficients."""
    utils.matplotlib_import()
    import matplotlib.pyplot as plt

    ordered = importance.sort_values("coefficient")
    colours = ["#b2443a" if value > 0 else "#2f6b9a" for value in ordered["coefficient"]]
    figure, axes = plt.subplots(figsize=(7.5, 4.2), dpi=150)
    axes.barh(ordered.index, ordered["coefficient"], color=colours)
    axes.axvline(0, color="#555555", linewidth=0.8)
    axes.set_xlabel("standardised coefficient (change in log odds per standard deviation)")
    axes.set_title("Feature importance")
    axes.spines[["top", "right"]].set_visible(False)
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)
    return path


def roc_chart(y_true, scores):
    """A Vega-Lite ROC curve with the diagonal of a random ranking."""
    points = [{"fpr": round(x, 4), "tpr": round(y, 4)} for x, y in roc_points(y_true, scores)]
    return json.dumps(
        {
            "$schema": "https://vega.github.io/schema/vega-lite/v5.json",
            "width": 420,
            "height": 300,
            "layer": [
                {
                    "data": {"values": points},
                    "mark": {"type": "line", "color": "#1f3a5f", "strokeWidth": 2.5},
                    "encoding": {
                        "x": {"field": "fpr", "type": "quantitative", "title": "False positive rate"},
                        "y": {"field": "tpr", "type": "quantitative", "title": "True positive rate"},
                    },
                },
                {
                    "data": {"values": [{"fpr": 0, "tpr": 0}, {"fpr": 1, "tpr": 1}]},
                    "mark": {"type": "line", "strokeDash": [4, 4], "color": "#999999"},
                    "encoding": {"x": {"field": "fpr", "type": "quantitative"}, "y": {"field": "tpr", "type": "quantitative"}},
                },
            ],
        },
        indent=1,
    )


def response_rates(y_true, scores, n_bins):
    """Default rate by band of equal height of the predicted probability."""
    bounds = utils.get_bins(scores, n_bins)
    bands = pd.cut(scores, bins=np.asarray(bounds, dtype=float), include_lowest=True)
    frame = pd.DataFrame({"band": bands, "default": np.asarray(y_true)})
    grouped = frame.groupby("band", observed=True)["default"]
    table = pd.DataFrame(
        {
            "score_band": [str(interval) for interval in grouped.size().index],
            "applications": grouped.size().to_numpy(),
            "defaults": grouped.sum().to_numpy().astype(int),
            "default_rate": np.round(grouped.mean().to_numpy(), 3),
        }
    )
    table["score_band"] = table["score_band"].str.replace("inf", "∞")
    return table


def data_summary_table(train):
    features = [name for name, _ in FEATURES]
    summary = train[features].describe().T[["mean", "std", "min", "max"]]
    summary.insert(0, "description", [description for _, description in FEATURES])
    summary.index = utils.sanitize_string_list(summary.index, LOGGER)
    summary.index.name = "feature"
    return summary.reset_index()


def sample_context(config, result, n_bands=10):
    """Section contexts of the sample report, keyed by section name."""
    model, valid = result["model"], result["valid"]
    performance = result["performance"]
    auc = utils.lookup_val_score(performance, "AUC")
    gini = utils.lookup_val_score(performance, "GINI")
    logloss = utils.lookup_val_score(performance, "LOGLOSS")
    importance = model.importance()
    ranked = importance.reindex(importance["coefficient"].abs().sort_values(ascending=False).index)
    top_n = min(8, len(importance))

    common = {
        "model_name": "Credit default scorecard",
        "model_type": "logistic regression",
        "target_description": "an applicant defaults on the loan within 12 months",
        "train_rows": "{:,}".format(len(result["train"])),
        "valid_rows": "{:,}".format(len(valid)),
        "feature_count": len(FEATURES),
        "auc": "%.3f" % auc,
        "gini": "%.3f" % gini,
        "logloss": "%.3f" % logloss,
        "default_rate": "%.1f%%" % (100 * result["data"][TARGET].mean()),
    }
    condensed = utils.condense_table(importance, top_n, "coefficient", differ_sign=True, sort_by_abs=True)
    plot_path = importance_plot(importance, os.path.join(config.images_dir, "feature_importance.png"))
    performance_view = performance.copy()
    performance_view.loc["GINI"] = [2 * performance.loc["AUC", column] - 1 for column in performance.columns]
    performance_view.index.name = "metric"
    return {
        "executive_summary": dict(
            common,
            top_features=", ".join(ranked.index[:3]),
            verdict=(
                "The model separates defaulting from repaying applicants well and is fit for use "
                "as a ranking score." if auc >= 0.75 else "The model ranks applicants only moderately well."
            ),
        ),
        "data_summary": dict(
            common,
            data_table=utils.format_table(data_summary_table(result["train"]), config, float_format="{:,.2f}"),
        ),
        "feature_importance": dict(
            common,
            top_n=top_n,
            importance_table=utils.format_table(condensed.reset_index(), config, float_format="{:.3f}"),
            importance_plot=utils.image_path_to_template_var(plot_path, config, width=160),
        ),
        "model_performance": dict(
            common,
            performance_table=utils.format_table(performance_view.reset_index(), config, float_format="{:.3f}"),
            roc_chart=roc_chart(valid[TARGET], result["valid_predictions"]),
            roc_link=utils.url_to_template_var(config, ROC_LINK, "ROC analysis"),
            n_bands=n_bands,
            response_table=utils.format_table(response_rates(valid[TARGET], result["valid_predictions"], n_bands), config),
        ),
        "appendix": dict(common, version=velmo_brevant.__version__, config_json=json.dumps(json.loads(config.serialize()), indent=2)),
    }


def artifact_directories(config):
    """The artifact directories this report uses: images always, tables when exported."""
    return [config.images_dir] + ([config.tables_dir] if config.export_artifacts else [])


def remove_directories(directories):
    """The artifacts are inside the saved report or archive by now."""
    for directory in directories:
        shutil.rmtree(directory, ignore_errors=True)


def render_main_template(config):
    """Render the main template with the sections; the Markdown text for a Markdown report."""
    context = config.runtime["context"]
    if config.main_template_type == OutputType.DOC:
        config.template.render(context, autoescape=True)
        return None
    return config.template.render(context)


def generate_sample_report(
    output_path,
    main_template_type=None,
    export_artifacts=False,
    progress_file=None,
    rows=4000,
    progress_stream=None,
    author="velmo_brevant sample driver",
):
    """Train the sample model, render the sample report and deliver it to output_path.

    output_path is a .docx or .md file, a GitHub directory URL or an S3 location;
    the format follows its suffix unless main_template_type is given. Returns where
    the report went: the local file or archive, or the remote location.
    """
    if main_template_type is None:
        main_template_type = OutputType.MD if str(output_path).endswith(".md") else OutputType.DOC
    steps = len(SECTIONS) + 4
    progress = Progress(progress_file, steps, progress_stream)
    # Sections are Markdown but for one Word section that holds only a table:
    # values made before a section renders are encoded for Markdown.
    config = Config(
        output_path,
        sub_template_type=OutputType.MD,
        main_template_type=main_template_type,
        export_artifacts=export_artifacts,
        progress_file_path=progress_file,
    )
    config.hard_asserts = True
    try:
        remote = str(output_path) != config.output_path
        if remote:
            config.output_router.check_access()
        for directory in artifact_directories(config):
            os.makedirs(directory)
        config.set_runtime_parameters(table_counter=1)
        config.load_template()
        progress.step("training the sample model")
        result = train_sample_model(rows=rows)
        contexts = sample_context(config, result)
        main_context = config.runtime["context"]
        main_context.update({key: contexts["executive_summary"][key] for key in ("model_name", "model_type", "auc")})
        main_context.update(
            author=author, report_date=datetime.date.today().isoformat(), target="default within 12 months"
        )
        for name in SECTIONS:
            progress.step("rendering section %s" % name)
            main_context[name] = page_forge.render_template(section_file(config, name), contexts[name], config, LOGGER)
        progress.step("rendering the main template")
        rendered = render_main_template(config)
        progress.step("saving the report")
        saved = utils.save_rendered_template(config, rendered, LOGGER)
        remove_directories(artifact_directories(config))
        destination = saved
        if remote:
            config.output_router.push(saved)
            destination = output_path
        progress.step("report written to %s" % destination)
        progress.finish(ReportStatus.DONE)
        return destination
    except BaseException:
        progress.finish(ReportStatus.FAILED)
        raise
