#include "File/strings.h"

#include <iterator>

namespace vela::blobfile {

namespace {

constexpr string_entry english[] = {
    {1, L"blobfile " L"" VELA_VERSION L" (vela) - files to and from binary columns through ODBC"},
    {2,
     L"Startup: blobfile [-P] [-C <folder>] <connection string> <SQL query> [file]\n"
     L"    -P                 SELECT: also write absolute names and names that climb out with ..\n"
     L"    -C <folder>        SELECT: write relative names under this folder\n"
     L"    <connection string> ODBC driver and its parameters, or @FILE: read from FILE (only its owner may read it)\n"
     L"    <SQL query>        SELECT/INSERT/UPDATE query, 1st parameter is file path and name, 2nd parameter is "
     L"binary column\n"
     L"    [file]             INSERT/UPDATE: the file passed as the query's one parameter (?)\n"
     L"Example of reading files from Documents column to files with path on column FilePath:\n"
     L"blobfile \"Driver=SQLite3;Database=/var/lib/app/app.db\" \"select FilePath,Document from Documents\"\n"
     L"Example of storing a file into a PostgreSQL database:\n"
     L"blobfile \"Driver=PostgreSQL Unicode;Server=localhost;Database=app;Uid=app;Pwd=secret\" "
     L"\"insert into Documents(Document) values (?)\" report.pdf"},
    {3, L"connecting to the database"},
    {4, L"executing query"},
    {5, L"writing"},
    {6, L"written"},
    {7, L"bytes"},
    {8, L"Error"},
    {9, L"Unknown error"},
    {10, L"to"},
    {11, L"to database"},
    {12, L"skipped (no file name)."},
    {13, L"no row changed."},
    {14, L"skipped (the file name holds a control character or NUL)."},
    {15, L"is outside the target folder; -P writes it"},
    {16, L"(replaces the file of row %1)"},
    {17, L"Rows skipped:"},
    {18, L"is reached through a folder that is a symbolic link; not written"},
    {19, L"%1: not plain text, sent as raw bytes"},
};

constexpr string_entry russian[] = {
    {1, L"blobfile " L"" VELA_VERSION L" (vela) - файлы в двоичные столбцы и обратно через ODBC"},
    {2,
     L"Запуск: blobfile [-P] [-C <папка>] <строка подключения> <SQL-запрос> [файл]\n"
     L"    -P                 SELECT: записывать и абсолютные имена, и имена, выходящие наверх через ..\n"
     L"    -C <папка>         SELECT: записывать относительные имена в эту папку\n"
     L"    <строка подключения> драйвер ODBC и его параметры или @ФАЙЛ: прочитать из ФАЙЛА (читать его может только владелец)\n"
     L"    <SQL-запрос>        запрос SELECT/INSERT/UPDATE, 1-й параметр - путь и имя файла, 2-й параметр - "
     L"двоичный столбец\n"
     L"    [файл]             INSERT/UPDATE: файл, передаваемый как единственный параметр запроса (?)\n"
     L"Пример чтения файлов из столбца Documents в файлы с путями из столбца FilePath:\n"
     L"blobfile \"Driver=SQLite3;Database=/var/lib/app/app.db\" \"select FilePath,Document from Documents\"\n"
     L"Пример записи файла в базу данных PostgreSQL:\n"
     L"blobfile \"Driver=PostgreSQL Unicode;Server=localhost;Database=app;Uid=app;Pwd=secret\" "
     L"\"insert into Documents(Document) values (?)\" report.pdf"},
    {3, L"подключение к базе данных"},
    {4, L"выполнение запроса"},
    {5, L"запись"},
    {6, L"записано"},
    {7, L"байт"},
    {8, L"Ошибка"},
    {9, L"Неизвестная ошибка"},
    {10, L"в"},
    {11, L"в базу данных"},
    {12, L"пропущено (нет имени файла)."},
    {13, L"ни одна строка не изменена."},
    {14, L"пропущено (в имени файла управляющий символ или NUL)."},
    {15, L"вне целевой папки; -P записывает такие имена"},
    {16, L"(заменяет файл строки %1)"},
    {17, L"Пропущено строк:"},
    {18, L"лежит за папкой, которая является символической ссылкой; не записан"},
    {19, L"%1: не простой текст, отправлен байтами как есть"},
};

constexpr string_table table{english, std::size(english), russian, std::size(russian)};

} // namespace

const string_table& strings() { return table; }

} // namespace vela::blobfile
