#include "File/strings.h"

#include <iterator>

namespace vela::blobfile {

namespace {

constexpr string_entry english[] = {
    {1, L"blobfile " L"" VELA_VERSION L" (vela) - files to and from binary columns through ODBC"},
    {2,
     L"Startup: blobfile [-P] [-C <folder>] [-hosts:<list>] [-target:<kind>] [-host_order:<order>] [-retry:<N>]\n"
     L"                <connection string> <SQL query> [file]\n"
     L"    -P                 SELECT: also write absolute names and names that climb out with ..\n"
     L"    -C <folder>        SELECT: write relative names under this folder\n"
     L"    -hosts:<host[:port],...>  hosts tried in order in place of the server (Server=h1,h2:port lists them too)\n"
     L"    -target:<any | read-write | read-only | primary | standby>  the kind of host to take\n"
     L"    -host_order:<listed | random>  the order the hosts are tried in\n"
     L"    -retry:<N>         run the transfer again up to N times after a conflict or a lost connection;\n"
     L"                       an upload is then one transaction\n"
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
    {20, L"Host %s refused: %s"},
    {21, L"Host %s is not %s."},
    {22, L"Host %s cannot tell whether it is %s."},
    {23, L"Connected host: %s"},
    {24, L"No host could be used (%u tried)."},
    {25, L"Invalid host list '%s'."},
    {26, L"The connection was lost; reconnected to %s."},
    {27, L"Retried once: %s."},
    {28, L"Retried %u times: %s."},
    {29, L"serialization failure"},
    {30, L"deadlock"},
    {31, L"certification conflict"},
    {32, L"cluster node not ready"},
    {33, L"connection lost"},
    {34, L"Invalid value '%s' for %s."},
};

constexpr string_entry russian[] = {
    {1, L"blobfile " L"" VELA_VERSION L" (vela) - файлы в двоичные столбцы и обратно через ODBC"},
    {2,
     L"Запуск: blobfile [-P] [-C <папка>] [-hosts:<список>] [-target:<вид>] [-host_order:<порядок>] [-retry:<N>]\n"
     L"                <строка подключения> <SQL-запрос> [файл]\n"
     L"    -P                 SELECT: записывать и абсолютные имена, и имена, выходящие наверх через ..\n"
     L"    -C <папка>         SELECT: записывать относительные имена в эту папку\n"
     L"    -hosts:<хост[:порт],...>  хосты, перебираемые по порядку вместо сервера (их перечисляет и Server=h1,h2:порт)\n"
     L"    -target:<any | read-write | read-only | primary | standby>  какой хост выбрать\n"
     L"    -host_order:<listed | random>  порядок перебора хостов\n"
     L"    -retry:<N>         повторить передачу до N раз после конфликта или потери соединения;\n"
     L"                       загрузка в базу тогда идёт одной транзакцией\n"
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
    {20, L"Хост %s отказал: %s"},
    {21, L"Хост %s не подходит: он не %s."},
    {22, L"Хост %s не может сообщить, %s ли он."},
    {23, L"Подключённый хост: %s"},
    {24, L"Не подошёл ни один хост (испробовано: %u)."},
    {25, L"Неверный список хостов '%s'."},
    {26, L"Соединение потеряно; выполнено переподключение к %s."},
    {27, L"Повторено один раз: %s."},
    {28, L"Повторено %u раз(а): %s."},
    {29, L"сбой сериализации"},
    {30, L"взаимоблокировка"},
    {31, L"конфликт сертификации"},
    {32, L"узел кластера не готов"},
    {33, L"соединение потеряно"},
    {34, L"Недопустимое значение '%s' для %s."},
};

constexpr string_table table{english, std::size(english), russian, std::size(russian)};

} // namespace

const string_table& strings() { return table; }

} // namespace vela::blobfile
