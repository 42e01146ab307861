// The error catalog: every script-level failure is an error! value made from
// a category and an id of this table. The table is the one source of the
// catalog: the boot builds system/catalog/errors from it, and fire() takes its
// category, number and message from it.
//
// KEL_ERROR_CATEGORIES(X): X(identifier, "word", code, "title")
// KEL_ERRORS(X):           X(category, identifier, "word", "template")
// A template is Kel source: a string printed as it stands, or a block of
// strings and argument references (:arg1 :arg2 :arg3; plain words in the
// internal and user categories) formed in place when the error is formed.
// Within a category the ids count from 2 (0 is code, 1 is type), in the
// order of this table.
#pragma once

#define KEL_ERROR_CATEGORIES(X) \
  X(throw_, "throw", 0, "Throw Error") \
  X(note, "note", 100, "note") \
  X(syntax, "syntax", 200, "Syntax Error") \
  X(script, "script", 300, "Script Error") \
  X(math, "math", 400, "Math Error") \
  X(access, "access", 500, "Access Error") \
  X(reserved1, "reserved1", 600, "Reserved1 Error") \
  X(reserved2, "reserved2", 700, "Reserved2 Error") \
  X(user, "user", 800, "User Error") \
  X(internal, "internal", 900, "Internal Error")

#define KEL_ERRORS(X) \
  X(throw_, break, "break", "\"no loop to break\"") \
  X(throw_, return, "return", "\"return or exit not in function\"") \
  X(throw_, throw, "throw", "[\"no catch for throw:\" :arg1]") \
  X(throw_, continue, "continue", "\"no loop to continue\"") \
  X(throw_, while_cond, "while-cond", "\"BREAK/CONTINUE cannot be used in WHILE condition block\"") \
  X(note, no_load, "no-load", "[\"cannot load: \" :arg1]") \
  X(syntax, invalid, "invalid", "[:arg1 \"invalid\" :arg2 \"at\" :arg3]") \
  X(syntax, missing, "missing", "[:arg1 \"missing\" :arg2 \"at\" :arg3]") \
  X(syntax, no_header, "no-header", "[\"script is missing a Kel header:\" :arg1]") \
  X(syntax, no_rs_header, "no-rs-header", "[\"script is missing a Kel/System header:\" :arg1]") \
  X(syntax, bad_header, "bad-header", "[\"script header is not valid:\" :arg1]") \
  X(syntax, malconstruct, "malconstruct", "[:arg1 \"invalid construction spec at\" :arg2]") \
  X(syntax, bad_char, "bad-char", "[:arg1 \"invalid character at\" :arg2]") \
  X(script, no_value, "no-value", "[:arg1 \"has no value\"]") \
  X(script, need_value, "need-value", "[:arg1 \"needs a value\"]") \
  X(script, not_defined, "not-defined", "[:arg1 \"word is not bound to a context\"]") \
  X(script, not_in_context, "not-in-context", "[\"context for\" :arg1 \"is not available\"]") \
  X(script, no_arg, "no-arg", "[:arg1 \"is missing its\" :arg2 \"argument\"]") \
  X(script, expect_arg, "expect-arg", "[:arg1 \"does not allow\" :arg2 \"for its\" :arg3 \"argument\"]") \
  X(script, expect_val, "expect-val", "[\"expected\" :arg1 \"not\" :arg2]") \
  X(script, expect_type, "expect-type", "[:arg1 :arg2 \"field must be of type\" :arg3]") \
  X(script, cannot_use, "cannot-use", "[\"cannot use\" :arg1 \"on\" :arg2 \"value\"]") \
  X(script, invalid_arg, "invalid-arg", "[\"invalid argument:\" :arg1]") \
  X(script, invalid_type, "invalid-type", "[:arg1 \"type is not allowed here\"]") \
  X(script, invalid_type_spec, "invalid-type-spec", "[\"invalid type specifier:\" :arg1]") \
  X(script, invalid_key_type, "invalid-key-type", "[\"invalid key type:\" :arg1]") \
  X(script, invalid_op, "invalid-op", "[\"invalid operator:\" :arg1]") \
  X(script, no_op_arg, "no-op-arg", "[:arg1 \"operator is missing an argument\"]") \
  X(script, bad_op_spec, "bad-op-spec", "\"making an op! requires a function with only 2 arguments and no lit/get-word on left argument\"") \
  X(script, invalid_data, "invalid-data", "[\"data not in correct format:\" :arg1]") \
  X(script, invalid_part, "invalid-part", "[\"invalid /part count:\" :arg1]") \
  X(script, not_same_type, "not-same-type", "\"values must be of the same type\"") \
  X(script, not_same_class, "not-same-class", "[\"cannot coerce\" :arg1 \"to\" :arg2]") \
  X(script, not_related, "not-related", "[\"incompatible argument for\" :arg1 \"of\" :arg2]") \
  X(script, bad_func_def, "bad-func-def", "[\"invalid function definition:\" :arg1]") \
  X(script, bad_func_arg, "bad-func-arg", "[\"function argument\" :arg1 \"is not valid\"]") \
  X(script, bad_func_extern, "bad-func-extern", "[\"invalid /extern value:\" :arg1]") \
  X(script, no_refine, "no-refine", "[:arg1 \"has no refinement called\" :arg2]") \
  X(script, bad_refines, "bad-refines", "\"incompatible or invalid refinements\"") \
  X(script, bad_refine, "bad-refine", "[\"invalid refinement value:\" :arg1]") \
  X(script, dup_refine, "dup-refine", "[\"duplicate refinement usage in:\" :arg1]") \
  X(script, word_first, "word-first", "[\"path must start with a word:\" :arg1]") \
  X(script, empty_path, "empty-path", "\"cannot evaluate an empty path value\"") \
  X(script, unset_path, "unset-path", "[:arg2 \"is unset in path\" :arg1]") \
  X(script, invalid_path, "invalid-path", "[\"cannot access\" :arg2 \"in path\" :arg1]") \
  X(script, invalid_path_set, "invalid-path-set", "[\"unsupported type in\" :arg1 \"set-path\"]") \
  X(script, invalid_path_get, "invalid-path-get", "[\"unsupported type in\" :arg1 \"get-path\"]") \
  X(script, bad_path_type, "bad-path-type", "[:arg3 \"returned a\" :arg2 \"value, so\" :arg1 \"could not be accessed\"]") \
  X(script, bad_path_type2, "bad-path-type2", "[\"path element >\" :arg1 \"< does not apply to\" :arg2 \"type\"]") \
  X(script, bad_path_set, "bad-path-set", "[\"cannot set\" :arg2 \"in path\" :arg1]") \
  X(script, bad_field_set, "bad-field-set", "[\"cannot set\" :arg1 \"field to\" :arg2 \"datatype\"]") \
  X(script, dup_vars, "dup-vars", "[\"duplicate variable specified:\" :arg1]") \
  X(script, past_end, "past-end", "\"out of range or past end\"") \
  X(script, missing_arg, "missing-arg", "\"missing a required argument or refinement\"") \
  X(script, out_of_range, "out-of-range", "[\"value out of range:\" :arg1]") \
  X(script, invalid_chars, "invalid-chars", "\"contains invalid characters\"") \
  X(script, invalid_compare, "invalid-compare", "[\"cannot compare\" :arg1 \"with\" :arg2]") \
  X(script, wrong_type, "wrong-type", "[\"datatype assertion failed for:\" :arg1]") \
  X(script, invalid_refine_arg, "invalid-refine-arg", "[\"invalid\" :arg1 \"argument:\" :arg2]") \
  X(script, type_limit, "type-limit", "[:arg1 \"overflow/underflow\"]") \
  X(script, size_limit, "size-limit", "[\"maximum limit reached:\" :arg1]") \
  X(script, no_return, "no-return", "\"block did not return a value\"") \
  X(script, throw_usage, "throw-usage", "\"invalid use of a thrown error value\"") \
  X(script, locked_word, "locked-word", "[\"protected word - cannot modify:\" :arg1]") \
  X(script, protected, "protected", "\"protected value or series - cannot modify\"") \
  X(script, bad_bad, "bad-bad", "[:arg1 \"error:\" :arg2]") \
  X(script, bad_make_arg, "bad-make-arg", "[\"cannot MAKE\" :arg1 \"from:\" :arg2]") \
  X(script, bad_to_arg, "bad-to-arg", "[\"cannot MAKE/TO\" :arg1 \"from:\" :arg2]") \
  X(script, invalid_months, "invalid-months", "\"invalid system/locale/month list\"") \
  X(script, invalid_spec_field, "invalid-spec-field", "[\"invalid\" :arg1 \"field in spec block\"]") \
  X(script, missing_spec_field, "missing-spec-field", "[:arg1 \"not found in spec block\"]") \
  X(script, move_bad, "move-bad", "[\"Cannot MOVE elements from\" :arg1 \"to\" :arg2]") \
  X(script, too_long, "too-long", "\"Content too long\"") \
  X(script, invalid_char, "invalid-char", "[\"Invalid char! value:\" :arg1]") \
  X(script, bad_loop_series, "bad-loop-series", "[\"Loop series changed to invalid value:\" :arg1]") \
  X(script, wrong_denom, "wrong-denom", "[:arg1 \"not same denomination as\" :arg2]") \
  X(script, bad_denom, "bad-denom", "[\"invalid denomination:\" :arg1]") \
  X(script, invalid_obj_evt, "invalid-obj-evt", "[\"invalid object event handler:\" :arg1]") \
  X(script, parse_rule, "parse-rule", "[\"PARSE - invalid rule or usage of rule:\" :arg1]") \
  X(script, parse_end, "parse-end", "[\"PARSE - unexpected end of rule after:\" :arg1]") \
  X(script, parse_invalid_ref, "parse-invalid-ref", "[\"PARSE - get-word refers to a different series!\" :arg1]") \
  X(script, parse_block, "parse-block", "[\"PARSE - input must be of any-block! type:\" :arg1]") \
  X(script, parse_unsupported, "parse-unsupported", "\"PARSE - matching by datatype not supported for any-string! input\"") \
  X(script, parse_infinite, "parse-infinite", "[\"PARSE - infinite recursion at rule: [\" :arg1 \"]\"]") \
  X(script, parse_stack, "parse-stack", "\"PARSE - stack limit reached\"") \
  X(script, parse_keep, "parse-keep", "\"PARSE - KEEP is used without a wrapping COLLECT\"") \
  X(script, parse_into_bad, "parse-into-bad", "\"PARSE - COLLECT INTO/AFTER invalid series! argument\"") \
  X(script, parse_into_type, "parse-into-type", "\"PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype\"") \
  X(script, draw_invalid, "draw-invalid", "[\"DRAW - invalid input at:\" :arg1]") \
  X(script, draw_infinite, "draw-infinite", "[\"DRAW - infinite recursion at:\" :arg1]") \
  X(script, invalid_data_facet, "invalid-data-facet", "[\"invalid DATA facet content\" :arg1]") \
  X(script, face_type, "face-type", "[\"VIEW - invalid face type:\" :arg1]") \
  X(script, not_window, "not-window", "\"VIEW - expected a window root face\"") \
  X(script, bad_window, "bad-window", "\"VIEW - a window face cannot be nested in another window\"") \
  X(script, not_linked, "not-linked", "\"VIEW - face not linked to a window\"") \
  X(script, not_event_type, "not-event-type", "[\"VIEW - not a valid event type\" :arg1]") \
  X(script, invalid_facet_type, "invalid-facet-type", "[\"VIEW - invalid rate value:\" :arg1]") \
  X(script, vid_invalid_syntax, "vid-invalid-syntax", "[\"VID - invalid syntax at:\" :arg1]") \
  X(script, rtd_invalid_syntax, "rtd-invalid-syntax", "[\"RTD - invalid syntax at:\" :arg1]") \
  X(script, rtd_no_match, "rtd-no-match", "[\"RTD - opening/closing tag not matching for:\" :arg1]") \
  X(script, react_bad_func, "react-bad-func", "\"REACT - /LINK option requires a function! as argument\"") \
  X(script, react_not_enough, "react-not-enough", "\"REACT - reactive functions must accept at least 2 arguments\"") \
  X(script, react_no_match, "react-no-match", "\"REACT - objects block length must match reaction function arg count\"") \
  X(script, react_bad_obj, "react-bad-obj", "\"REACT - target can only contain object values\"") \
  X(script, react_gctx, "react-gctx", "[\"REACT - word\" :arg1 \"is not a reactor's field\"]") \
  X(script, lib_invalid_arg, "lib-invalid-arg", "[\"LIBKEL - invalid argument for\" :arg1]") \
  X(script, kb_invalid_record, "kb-invalid-record", "[\"KELBIN - invalid record at index\" :arg1]") \
  X(math, zero_divide, "zero-divide", "\"attempt to divide by zero\"") \
  X(math, overflow, "overflow", "\"math or number overflow\"") \
  X(math, positive, "positive", "\"positive number required\"") \
  X(access, cannot_open, "cannot-open", "[\"cannot open:\" :arg1]") \
  X(access, cannot_close, "cannot-close", "[\"cannot close:\" :arg1]") \
  X(access, invalid_utf8, "invalid-utf8", "[\"invalid UTF-8 encoding:\" :arg1]") \
  X(access, not_open, "not-open", "[\"port is not open:\" :arg1]") \
  X(access, no_connect, "no-connect", "[\"cannot connect:\" :arg1 \"reason: timeout\"]") \
  X(access, no_scheme, "no-scheme", "[\"missing port scheme:\" :arg1]") \
  X(access, unknown_scheme, "unknown-scheme", "[\"scheme is unknown:\" :arg1]") \
  X(access, invalid_spec, "invalid-spec", "[\"invalid spec or options:\" :arg1]") \
  X(access, invalid_port, "invalid-port", "[\"invalid port object (invalid field values)\"]") \
  X(access, invalid_actor, "invalid-actor", "[\"invalid port actor (must be handle or object)\"]") \
  X(access, no_port_action, "no-port-action", "\"port action not supported\"") \
  X(access, no_create, "no-create", "[\"cannot create:\" :arg1]") \
  X(access, no_codec, "no-codec", "[\"cannot decode or encode (no codec):\" :arg1]") \
  X(access, bad_media, "bad-media", "[\"bad media data (corrupt image, sound, video)\"]") \
  X(access, invalid_cmd, "invalid-cmd", "[\"invalid port command:\" :arg1]") \
  X(user, message, "message", "arg1") \
  X(internal, bad_path, "bad-path", "[\"bad path:\" arg1]") \
  X(internal, not_here, "not-here", "[arg1 \"not supported on your system\"]") \
  X(internal, no_memory, "no-memory", "\"not enough memory\"") \
  X(internal, wrong_mem, "wrong-mem", "\"failed to release memory\"") \
  X(internal, stack_overflow, "stack-overflow", "\"stack overflow\"") \
  X(internal, limit_hit, "limit-hit", "[\"internal limit reached:\" :arg1]") \
  X(internal, too_deep, "too-deep", "\"block or paren series is too deep to process\"") \
  X(internal, no_cycle, "no-cycle", "\"circular reference not allowed\"") \
  X(internal, feature_na, "feature-na", "\"feature not available\"") \
  X(internal, not_done, "not-done", "\"reserved for future use (or not yet implemented)\"") \
  X(internal, invalid_error, "invalid-error", "[\"invalid error object field value:\" :arg1]") \
  X(internal, routines, "routines", "\"routines require compilation, from OS shell: `kel -r <script.kel>`\"") \
  X(internal, kel_system, "kel-system", "\"contains Kel/System code which requires compilation\"") \
  X(internal, deprecated, "deprecated", "[arg1 \"is DEPRECATED, please use\" arg2 \"instead\"]")
