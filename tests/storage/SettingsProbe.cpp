// A fresh process for the settings tests: nothing of the test program's memory (its stores,
// QSettings' cache) can answer for the file on disk.
//
//   settings_probe read FILE          QSettings, as earlier versions of the program read the
//                                     file: prints a JSON object of every key's value (strings
//                                     as strings, anything else as {"type": ..., "text": ...})
//   settings_probe write FILE JSON    QSettings, as earlier versions wrote it: stores every
//                                     string and boolean of the JSON object
//   settings_probe preferences FILE   prints the preferences this version loads from FILE

#include "storage/ConfigManager.h"
#include "storage/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

void print(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

int read(const QString& file)
{
    const QSettings settings(file, QSettings::IniFormat);
    QJsonObject values;
    for (const QString& key : settings.allKeys()) {
        const QVariant value = settings.value(key);
        if (value.typeId() == QMetaType::QString) {
            values.insert(key, value.toString());
        } else {
            values.insert(key, QJsonObject{{QStringLiteral("type"), QString::fromLatin1(value.typeName())},
                                   {QStringLiteral("text"), value.toString()}});
        }
    }
    print(QJsonDocument(values).toJson(QJsonDocument::Compact));
    return 0;
}

int write(const QString& file, const QByteArray& json)
{
    QSettings settings(file, QSettings::IniFormat);
    const QJsonObject values = QJsonDocument::fromJson(json).object();
    for (auto it = values.begin(); it != values.end(); ++it) {
        settings.setValue(it.key(), it.value().isBool() ? QVariant(it.value().toBool()) : QVariant(it.value().toString()));
    }
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}

int preferences(const QString& file)
{
    UserDefaults defaults(file);
    const ConfigManager config(defaults);
    print(config.preferences().toJson());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
        return read(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        return write(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]));
    }
    if (argc == 3 && std::strcmp(argv[1], "preferences") == 0) {
        return preferences(QString::fromLocal8Bit(argv[2]));
    }
    std::fprintf(stderr, "usage: settings_probe read|preferences FILE, or write FILE JSON\n");
    return 2;
}
