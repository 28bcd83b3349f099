// jsoncpp's two printing conveniences, over its string writer. jsoncpp is
// built without its stream writers (cmake/patches/jsoncpp-without-iostream.patch);
// in a file of their own these are linked only into programs that call them
// (tests printing values), never into the installer.
#include <json/value.h>
#include <json/writer.h>

#include <ostream>

namespace Json {

String Value::toStyledString() const {
  StyledWriter writer;
  return writer.write(*this);
}

OStream& operator<<(OStream& out, const Value& root) {
  return out << root.toStyledString();
}

}  // namespace Json
