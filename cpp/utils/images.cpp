// Images, hyperlinks and Vega charts as template values of the main
// template's format: Markdown text, or a docxtpl InlineImage or RichText sized
// and registered in the main Word template.
#include "areas.hpp"
#include "vb/docx_templates.hpp"
#include "images.hpp"
#include "vb/pytext.hpp"

#include <string>

namespace vb::utils {
namespace {

constexpr int kDefaultImageWidthMm = 180;
constexpr int kMaxImageHeightMm = 240;
constexpr int kDefaultCollectedWidthMm = 80;
constexpr double kChartProbePpi = 300;
constexpr double kExportBasePpi = 72;

bool is_main_type(const py::object &config, const char *member) {
    py::object type = import_attr("velmo_brevant.base.enums", "OutputType").attr(member);
    py::object main_type = config.attr("main_template_type");
    return py::bool_(main_type.equal(type));
}

[[noreturn]] void unsupported_format() {
    raise(PyExc_ValueError, "template format type not supported");
}

py::object mm(const py::object &millimetres) {
    return import_attr("docx.shared", "Mm")(millimetres);
}

double as_double(const py::handle &number) {
    double value = PyFloat_AsDouble(number.ptr());
    if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return value;
}

// The image as a Markdown report refers to it: from the image directory's
// own name on (the report lies beside that directory).
py::object image_reference(const py::object &path) {
    if (!py::isinstance<py::str>(path))
        raise(PyExc_TypeError, "image path must be a str, not " +
                                   py::str(py::type::of(path).attr("__name__")).cast<std::string>());
    std::size_t start = core::image_reference_start(to_u32(path));
    return path[py::slice(static_cast<py::ssize_t>(start), py::len(path), 1)];
}

bool is_image_file(const py::object &filename) {
    return py::bool_(filename.attr("endswith")(py::make_tuple(".png", ".jpg")));
}

py::object get_nested_dict(const py::object &nested_dict, const py::object &first_key,
                           const py::object &nested_key, const py::object &default_value) {
    return nested_dict.attr("get")(first_key, py::dict()).attr("get")(nested_key, default_value);
}

py::tuple actual_sizes(const py::object &tpl, const py::object &image_file,
                       const py::object &width, const py::object &height) {
    py::object emus_per_mm = import_attr("docx.shared", "Mm").attr("_EMUS_PER_MM");
    bool has_width = py::bool_(width), has_height = py::bool_(height);
    python_assert(has_width != has_height, "Specify either height or width");
    py::tuple added = loaded_docx(tpl).attr("_part").attr("get_or_add_image")(image_file);
    py::tuple scaled = added[1].attr("scaled_dimensions")(width, height);
    py::object new_width = scaled[0], new_height = scaled[1];
    return py::make_tuple(new_width / emus_per_mm, new_height / emus_per_mm);
}

py::tuple find_optimal_size(const py::object &new_width, const py::object &new_height,
                            const py::object &max_width, const py::object &max_height) {
    switch (core::page_fit(as_double(new_width), as_double(new_height), as_double(max_width),
                           as_double(max_height))) {
        case core::PageFit::keep_width:
            return py::make_tuple(mm(new_width), py::none());
        case core::PageFit::cap_width:
            return py::make_tuple(mm(max_width), py::none());
        case core::PageFit::cap_height:
            break;
    }
    return py::make_tuple(py::none(), mm(max_height));
}

py::object image_path_to_template_var(const py::object &path, const py::object &config,
                                      const py::object &width, const py::object &image_meta_data,
                                      const py::object &html) {
    py::object value;
    if (is_main_type(config, "MD")) {
        value = image_reference(path);
        if (py::bool_(html) && py::bool_(image_meta_data)) {
            py::object image_name = py::reinterpret_borrow<py::object>(*py::iter(image_meta_data));
            py::object align = get_nested_dict(image_meta_data, image_name, py::str("align"),
                                                py::str("left"));
            value = py::str("<img src='{}' width='{}' align='{}'/>").format(value, width, align);
        } else {
            value = py::str("![]({})").format(value);
        }
    } else if (is_main_type(config, "DOC")) {
        py::object tpl = config.attr("template");
        py::object placed_width = width, placed_height = py::none();
        if (!width.is_none()) {
            // Only a number: Mm would repeat a text 36000 times (a TypeError instead).
            as_double(width);
            py::tuple actual = actual_sizes(tpl, path, mm(width), py::none());
            py::tuple optimal = find_optimal_size(actual[0], actual[1], py::int_(kDefaultImageWidthMm),
                                                  py::int_(kMaxImageHeightMm));
            placed_width = optimal[0];
            placed_height = optimal[1];
        }
        value = import_attr("docxtpl", "InlineImage")(tpl, path, "width"_a = placed_width,
                                                      "height"_a = placed_height);
    } else {
        unsupported_format();
    }
    return encode_to_template(value, config, py::str("image"));
}

py::object url_to_template_var(const py::object &config, const py::object &url,
                               const py::object &text) {
    py::object value;
    if (is_main_type(config, "MD")) {
        value = py::str("[{}]({})").format(text, url);
    } else if (is_main_type(config, "DOC")) {
        py::object tpl = config.attr("template");
        value = import_attr("docxtpl", "RichText")("");
        py::object url_id =
            on_current_document(tpl, [&] { return tpl.attr("build_url_id")(url); });
        value.attr("add")(text, "url_id"_a = url_id, "underline"_a = true);
    } else {
        unsupported_format();
    }
    return encode_to_template(value, config, py::str("url"));
}

// Vega-Lite or Vega, by the "$schema" URL, else by the top-level keys that
// only Vega-Lite has.
bool is_vega_lite(const py::dict &spec) {
    py::object schema = spec.attr("get")("$schema");
    if (py::isinstance<py::str>(schema)) {
        if (schema.contains(py::str("vega-lite"))) return true;
        if (schema.contains(py::str("vega"))) return false;
    }
    for (const char *key : {"mark", "layer", "facet", "repeat", "concat", "hconcat", "vconcat"})
        if (spec.contains(key)) return true;
    return false;
}

// The chart as PNG data dense enough to look sharp where it is placed
// (width_mm wide on the page, or at its native size when not positive); its
// native size is that of the chart at 72 pixels per inch.
py::bytes chart_png(const py::module_ &vl_convert, const py::dict &spec, double width_mm) {
    py::object convert = vl_convert.attr(is_vega_lite(spec) ? "vegalite_to_png" : "vega_to_png");
    py::bytes png = convert(spec, "ppi"_a = kChartProbePpi);
    if (auto size = core::png_size(png.cast<std::string>())) {
        const double to_native = kExportBasePpi / kChartProbePpi;
        double ppi = core::chart_ppi(size->first * to_native, size->second * to_native, width_mm);
        if (ppi > kChartProbePpi * 1.01) png = convert(spec, "ppi"_a = ppi);
    }
    return png;
}

// Writes data to a file that must not exist yet; a failed write leaves no file.
void write_new_file(const py::object &path, const py::bytes &data) {
    py::object file = import_attr("builtins", "open")(path, "xb");
    try {
        file.attr("write")(data);
        file.attr("close")();
    } catch (py::error_already_set &) {
        file.attr("close")();
        import_attr("os", "remove")(path);
        throw;
    }
}

py::object vega_to_template_var(const py::object &config, const py::object &vega_chart,
                                const py::object &width) {
    py::module_ vl_convert = py::module_::import("vl_convert");
    py::object images_dir = config.attr("images_dir");
    py::object name = get_unseen_key(import_attr("os", "listdir")(images_dir), py::str("image_"),
                                     py::str(".png"));
    py::object image_path = import_attr("os.path", "join")(images_dir, name);
    py::object spec = import_attr("json", "loads")(vega_chart);
    if (!py::isinstance<py::dict>(spec))
        raise(PyExc_ValueError,
              "vega_chart must be the JSON text of an object (a Vega or Vega-Lite "
              "specification), not of a " +
                  py::str(py::type::of(spec).attr("__name__")).cast<std::string>());
    double width_mm = width.is_none() ? 0 : as_double(width);
    write_new_file(image_path, chart_png(vl_convert, spec, width_mm));
    return image_path_to_template_var(image_path, config, width, py::dict(), py::bool_(false));
}

py::dict collect_images(const py::object &config, const py::object &default_width,
                        const py::object &width_map) {
    py::dict images;
    py::object images_dir = config.attr("images_dir");
    py::module_ os_path = py::module_::import("os.path");
    for (py::handle entry : import_attr("os", "listdir")(images_dir)) {
        py::object image = py::reinterpret_borrow<py::object>(entry);
        if (!is_image_file(image)) continue;
        py::object image_name = os_path.attr("splitext")(image)[py::int_(0)];
        py::object path = os_path.attr("join")(images_dir, image);
        py::object width = get_nested_dict(width_map, image_name, py::str("width"), default_width);
        py::object html = get_nested_dict(width_map, image_name, py::str("html"), py::bool_(false));
        py::dict meta;
        if (width_map.contains(image_name)) meta[image_name] = width_map[image_name];
        images[image_name] = image_path_to_template_var(path, config, width, meta, html);
    }
    return images;
}

void register_has_template(py::module_ &m) {
    PyClass has_template(m, "HasTemplate",
                         "Base class for objects that draw images on demand and need the main "
                         "Word template to do so: _template holds it (None until "
                         "set_template). Its initialiser calls the next one in the class "
                         "hierarchy, so it combines with other bases.");
    py::object type = has_template.type();
    has_template
        .init(
            [type](const py::object &self) {
                import_attr("builtins", "super")(type, self).attr("__init__")();
                self.attr("_template") = py::none();
            },
            "__init__(self)\n--\n\nCall the next initialiser, then set _template to None.")
        .method(
            "set_template",
            [](const py::object &self, const py::object &tpl) { self.attr("_template") = tpl; },
            py::arg("template"),
            "set_template(self, template)\n--\n\nStore template (the main DocxTemplate) in "
            "_template.");
}

}  // namespace

void register_images(py::module_ &m) {
    m.def("image_path_to_template_var", &image_path_to_template_var, py::arg("path"),
          py::arg("config"), py::arg("width") = kDefaultImageWidthMm,
          py::arg("image_meta_data") = py::dict(), py::arg("html") = false,
          "image_path_to_template_var(path, config, width=180, image_meta_data={}, "
          "html=False)\n--\n\n"
          "The image file path as a template value, through encode_to_template(type='image').\n\n"
          "Markdown report: '![](<ref>)', or with html and image_meta_data (a width map) "
          "\"<img src='<ref>' width='<width>' align='<align>'/>\" with the alignment of its "
          "first entry ('left' by default); <ref> is the path from the image directory's name "
          "on (the last folder whose name begins with 'images'), or the path itself without "
          "such a folder. Word report: a docxtpl InlineImage width millimetres wide, fitted "
          "to a 180 x 240 mm page, or at its native size when width is None. Other formats "
          "raise ValueError.");
    m.def("actual_sizes", &actual_sizes, py::arg("template"), py::arg("image_file"),
          py::arg("width") = py::none(), py::arg("height") = py::none(),
          "actual_sizes(template, image_file, width=None, height=None)\n--\n\n"
          "(width, height) in millimetres (floats) of image_file scaled to the one python-docx "
          "length given, keeping its aspect ratio.\n\nThe image is added to the package of "
          "template's document. Giving both or neither length raises "
          "AssertionError('Specify either height or width').");
    m.def("find_optimal_size", &find_optimal_size, py::arg("new_width"), py::arg("new_height"),
          py::arg("max_width") = kDefaultImageWidthMm, py::arg("max_height") = kMaxImageHeightMm,
          "find_optimal_size(new_width, new_height, max_width=180, max_height=240)\n--\n\n"
          "The size at which an image of new_width x new_height millimetres fits the page, as "
          "(Mm(width), None) or (None, Mm(height)): the other side follows the aspect ratio. "
          "The width is capped at max_width, or the height at max_height when the capped "
          "width would still leave the image too high.");
    m.def("url_to_template_var", &url_to_template_var, py::arg("config"), py::arg("url"),
          py::arg("text") = "here",
          "url_to_template_var(config, url, text='here')\n--\n\n"
          "A hyperlink to url labelled text as a template value, through "
          "encode_to_template(type='url'): '[text](url)' in a Markdown report, an underlined "
          "docxtpl RichText link registered in config.template in a Word report. Other "
          "formats raise ValueError.");
    m.def("vega_to_template_var", &vega_to_template_var, py::arg("config"),
          py::arg("vega_chart"), py::arg("width") = kDefaultImageWidthMm,
          "vega_to_template_var(config, vega_chart, width=180)\n--\n\n"
          "Save the chart whose Vega or Vega-Lite specification is the JSON text vega_chart "
          "as a new PNG file 'image_<32 hex digits>.png' in config.images_dir, and return "
          "image_path_to_template_var(<file>, config, width).\n\nThe grammar follows the "
          "'$schema' URL, else the top-level keys. The image is dense enough (300 pixels per "
          "inch) to be sharp at the width it is placed at. Existing files are never "
          "overwritten. Needs the vl-convert-python package (ImportError at the call).");
    m.def("collect_images", &collect_images, py::arg("config"),
          py::arg("default_width") = kDefaultCollectedWidthMm, py::arg("width_map") = py::dict(),
          "collect_images(config, default_width=80, width_map={})\n--\n\n"
          "{image name: template value} for every .png and .jpg file of config.images_dir. "
          "width_map maps an image name to {'width', 'align', 'html'} settings; images "
          "without a width are default_width millimetres wide.");
    m.def("is_image_file", &is_image_file, py::arg("filename"),
          "is_image_file(filename)\n--\n\nTrue when filename ends with '.png' or '.jpg'.");
    m.def("get_nested_dict", &get_nested_dict, py::arg("nested_dict"), py::arg("first_key"),
          py::arg("nested_key"), py::arg("default_value"),
          "get_nested_dict(nested_dict, first_key, nested_key, default_value)\n--\n\n"
          "nested_dict.get(first_key, {}).get(nested_key, default_value).");
    register_has_template(m);
}

}  // namespace vb::utils
