#include "form_fields.h"

const CLI::Validator kFieldArgument(
    [](std::string& argument) -> std::string {
        std::size_t equals = argument.find('=');
        if (equals == std::string::npos) return "expected name=value, got '" + argument + "'";
        if (equals == 0) return "field name missing in '" + argument + "'";
        return "";
    },
    "");  // the argument's help already says name=value

PostFields ParseFieldArguments(const std::vector<std::string>& arguments) {
    PostFields fields;
    for (const std::string& argument : arguments) {
        std::size_t equals = argument.find('=');
        fields[argument.substr(0, equals)] = argument.substr(equals + 1);
    }
    return fields;
}

std::uintmax_t FieldsSize(const PostFields& fields) {
    std::uintmax_t size = 0;
    for (const auto& field : fields) size += field.first.size() + field.second.size();
    return size;
}
