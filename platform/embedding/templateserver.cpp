#include "templateserver.h"

#include "serverdoc.h"

#include "internal/classfactory.h"
#include "internal/servicefile.h"

namespace embedding {

TemplateServer::TemplateServer() = default;
TemplateServer::~TemplateServer() = default;

void TemplateServer::ConnectTemplate(const char* classId, ServerDocTemplate* docTemplate,
                                     bool multipleInstances)
{
    m_classId = QString::fromLatin1(classId);
    m_pDocTemplate = docTemplate;
    m_multipleInstances = multipleInstances;
}

bool TemplateServer::RegisterAll(QString* error)
{
    QString reason;
    if (!m_pDocTemplate) {
        reason = QStringLiteral("no document template is connected to the server");
    } else {
        m_factory = std::make_unique<internal::ClassFactory>(m_pDocTemplate, m_classId,
                                                             m_multipleInstances);
        if (m_factory->registerAll(&reason))
            return true;
        m_factory.reset();
    }
    if (error)
        *error = reason;
    return false;
}

bool TemplateServer::UpdateRegistry(const QString& program, bool bRegister)
{
    if (!bRegister)
        return internal::removeServiceFile();
    internal::ServiceDescription description;
    description.executable = program;
    description.classId = m_classId;
    if (m_pDocTemplate) {
        description.typeName = m_pDocTemplate->GetDocString(ServerDocTemplate::regFileTypeName);
        description.progId = m_pDocTemplate->GetDocString(ServerDocTemplate::regFileTypeId);
    }
    return internal::writeServiceFile(description);
}

QString TemplateServer::registrationPath()
{
    return internal::serviceFilePath();
}

} // namespace embedding
