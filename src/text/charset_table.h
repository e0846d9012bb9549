// The converters of the web's charset label table (charset_labels.cpp),
// their Windows code page numbers for the back end that converts through
// the system's own converters (codepage_win32.cpp), and which of them the
// platform's back end serves.
//
//   converter_code_page("windows-1252") == 1252;  converter_code_page("ISO-8859-10") == 0
#pragma once

#include <string_view>

namespace notepics {

// The Windows code page of a converter the label table names (its exact
// name, as charset_label_converter returns it); 0 when the table does not
// hold it or Windows has no code page for it.
int converter_code_page(std::string_view converter);

// Whether this platform's converters serve `converter` (a name of the label
// table): every one with ICU, those of a code page the system has on
// Windows. Defined by each code-page back end.
bool converter_available(std::string_view converter);

}  // namespace notepics
