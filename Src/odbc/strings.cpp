#include "odbc/strings.h"

#include <iterator>

#include "vela/file.h"

namespace vela::odbc {

namespace {

constexpr string_entry english[] = {
    {1, L"changed size during the upload"},
    {2, L"ended early"},
    {3, L"Database access error"},
    {4, L"No data"},
};
constexpr string_entry russian[] = {
    {1, L"изменил размер во время загрузки"},
    {2, L"закончился раньше времени"},
    {3, L"Ошибка при обращении к базе данных"},
    {4, L"Нет данных"},
};
constexpr string_table strings{english, std::size(english), russian, std::size(russian)};

} // namespace

std::wstring text(text_id id) { return table_string(strings, static_cast<uint32_t>(id)); }

} // namespace vela::odbc
