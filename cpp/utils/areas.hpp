// The areas of the utils module, registered by module.cpp in dependency order.
#pragma once

#include "vb/common.hpp"

namespace vb::utils {

void register_runtime(py::module_ &m);
void register_locations(py::module_ &m);
void register_formatting(py::module_ &m);
void register_binning(py::module_ &m);
void register_features(py::module_ &m);
void register_docx_objects(py::module_ &m);
void register_encoding(py::module_ &m);
void register_images(py::module_ &m);
void register_saving(py::module_ &m);
void register_archives(py::module_ &m);
void register_zip_update(py::module_ &m);
void register_tables(py::module_ &m);
void register_inspection(py::module_ &m);

// Used across areas of this module.
void handle_exception(const py::object &err_msg, const py::object &logger);
py::str get_unseen_key(const py::object &keys, const py::object &base_str,
                       const py::object &suffix);
py::object create_docx_table(const py::object &key);
// The top-level body paragraphs of a python-docx document, read from its
// current body element.
py::list body_paragraphs(const py::object &document);
py::object encode_to_template(const py::object &value, const py::object &config,
                              const py::object &type);
void flush_text_streams();
py::object binary_stdout();
py::bytes get_docx_file_stream(const py::object &config);
py::object create_artifact_zip(py::object rendered_report, const py::object &report_path,
                               const py::object &output_type, const py::object &using_tavrel,
                               const py::object &config, const py::object &logger,
                               const py::object &include_artifacts);

}  // namespace vb::utils
