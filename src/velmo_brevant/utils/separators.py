"""Separators used when feature names are sanitised.

``sanitize_string_list`` replaces every entry of ``can_t_haves``, then
``orig_feat_prefix``, ``extra_prefix`` and ``col_sep`` by ``san_sep``, and appends
``san_sep`` to a name until it is unique. ``san_sep`` is never empty.
"""

#: Substrings that may not remain in a sanitised name.
can_t_haves = [".", "[", "]", "{", "}", '"', "'", ":", ",", "\n", "\t"]
#: Prefix the modelling platform gives to original feature columns.
orig_feat_prefix = "orig__"
#: Prefix of derived columns.
extra_prefix = "extra__"
#: Separator between the parts of a generated column name.
col_sep = "||"
#: Replacement for all of the above, and the suffix that makes a repeated name unique.
san_sep = "_"
