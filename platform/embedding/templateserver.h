// The embedding server's start-up: ties the class factory to the document
// template, registers the server (a D-Bus session service file, so that the
// bus starts "<program> -Embedding" for a container) and, in a server
// process, puts the factory on the bus.
#pragma once

#include <QString>
#include <memory>

namespace embedding {

class ServerDocTemplate;

namespace internal {
class ClassFactory;
}

class TemplateServer
{
public:
    TemplateServer();
    ~TemplateServer();
    TemplateServer(const TemplateServer&) = delete;
    TemplateServer& operator=(const TemplateServer&) = delete;

    // The factory makes documents of `docTemplate` for objects of `classId`.
    // With `multipleInstances` every object gets a server process of its own.
    void ConnectTemplate(const char* classId, ServerDocTemplate* docTemplate,
                         bool multipleInstances);

    // Puts the factory on the session bus under the well-known name. False,
    // with the reason in `error`, when there is no bus or another process
    // holds the name.
    bool RegisterAll(QString* error);

    // Registers the server for `program` (its absolute path, as the service
    // file may name it), or with `bRegister` false takes the registration
    // away. False when the service file could not be written or removed.
    bool UpdateRegistry(const QString& program, bool bRegister = true);

    // Where the registration lives.
    static QString registrationPath();

private:
    ServerDocTemplate* m_pDocTemplate = nullptr;
    QString m_classId;
    bool m_multipleInstances = true;
    std::unique_ptr<internal::ClassFactory> m_factory;
};

} // namespace embedding
