#include "platform/picture/wmf.h"
// Placeholder until the renderer lands: refuses every metafile.
namespace pel::wmf {
struct Document::Data {};
std::optional<Document> Document::parse(QByteArrayView, QString *error)
{
    if (error) *error = QStringLiteral("metafiles not supported yet");
    return std::nullopt;
}
QSizeF Document::sizeTwips() const { return {}; }
void Document::paint(QPainter &, const QRectF &) const {}
QImage Document::render(QSize) const { return {}; }
}  // namespace pel::wmf
