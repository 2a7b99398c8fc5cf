#include "protocol/refused_value.h"

namespace {

constexpr char DatagramSeparator = '\x01';

}  // namespace

ERefusedValue::ERefusedValue(std::string field, const std::string& why)
    : std::runtime_error(why), Field_(std::move(field)) {}

void CheckDatagramValue(std::string_view label, std::string_view value) {
    if (value.find(DatagramSeparator) != std::string_view::npos)
        throw ERefusedValue(std::string(label),
                            std::string(label) + "に区切りの制御文字 (0x01) があるため送信できません。");
}
