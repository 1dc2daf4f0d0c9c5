// Error numbers and their descriptions on POSIX systems.
#include "os/os.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vela::os {

uint32_t last_error() { return error_from_errno(errno); }

namespace {
// -1 until the environment has been read.
int language_choice = -1;
} // namespace

bool russian_ui() {
  if (language_choice < 0) {
    language_choice = 0;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* v = std::getenv(name);
      if (v && *v) {
        language_choice = std::strncmp(v, "ru", 2) == 0 ? 1 : 0;
        break;
      }
    }
  }
  return language_choice == 1;
}

void forget_language() { language_choice = -1; }

namespace {

struct message {
  uint32_t code;
  const wchar_t* en;
  const wchar_t* ru;
};

constexpr message messages[] = {
    {0, L"The operation completed successfully.", L"Операция успешно завершена."},
    {1, L"Invalid function.", L"Неверная функция."},
    {2, L"The file was not found.", L"Файл не найден."},
    {3, L"The path was not found.", L"Путь не найден."},
    {4, L"Too many files are open.", L"Открыто слишком много файлов."},
    {5, L"Access is denied.", L"Отказано в доступе."},
    {6, L"The handle is invalid.", L"Неверный дескриптор."},
    {8, L"Not enough memory.", L"Недостаточно памяти."},
    {13, L"The data is invalid.", L"Неверные данные."},
    {19, L"The medium is write-protected.", L"Носитель защищён от записи."},
    {29, L"The system cannot write to the specified device.", L"Система не может выполнить запись на устройство."},
    {32, L"The file is being used by another process.", L"Файл занят другим процессом."},
    {38, L"Reached the end of the file.", L"Достигнут конец файла."},
    {50, L"The request is not supported.", L"Запрос не поддерживается."},
    {80, L"The file exists.", L"Файл существует."},
    {87, L"The parameter is incorrect.", L"Параметр задан неверно."},
    {109, L"The pipe has been ended.", L"Канал был закрыт."},
    {112, L"There is not enough space on the disk.", L"Недостаточно места на диске."},
    {123, L"The file name, directory name, or volume label syntax is incorrect.",
     L"Синтаксическая ошибка в имени файла, имени папки или метке тома."},
    {206, L"The file name or extension is too long.", L"Слишком длинное имя файла или расширение."},
    {223, L"The file size exceeds the limit allowed and cannot be saved.",
     L"Размер файла превышает допустимый предел, и его нельзя сохранить."},
    {234, L"More data is available.", L"Имеются дополнительные данные."},
    {1113, L"No mapping for the Unicode character exists in the target code page.",
     L"Для символа Юникода нет соответствия в целевой кодовой странице."},
    {1168, L"Element not found.", L"Элемент не найден."},
    {1223, L"The operation was cancelled by the user.", L"Операция отменена пользователем."},
    {1247, L"An attempt was made to perform an initialization operation when initialization has "
           L"already been completed.",
     L"Попытка выполнить инициализацию, которая уже выполнена."},
    {1359, L"An internal error occurred.", L"Внутренняя ошибка."},
};

} // namespace

std::wstring system_message(uint32_t code) {
  for (const auto& m : messages)
    if (m.code == code) return russian_ui() ? m.ru : m.en;
  return {};
}

} // namespace vela::os
