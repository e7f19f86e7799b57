#pragma once

// The page template (template/*.html, *.js, *.css), built into the program.

#include <optional>
#include <string_view>
#include <vector>

namespace hydro::results_page {

struct TemplateFile {
    std::string_view name;  ///< file name in template/
    std::string_view text;
};

/// Every file of the template.
[[nodiscard]] const std::vector<TemplateFile>& templateFiles();

/// One file of the template by name; nothing when there is no such file.
[[nodiscard]] std::optional<std::string_view> templateFile(std::string_view name);

}  // namespace hydro::results_page
