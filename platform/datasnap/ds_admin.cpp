#include "ds_server.h"

#include <algorithm>
#include <cctype>

namespace datasnap {

// The administrative class every server publishes. Only the calls that stock
// clients make are served: GetPlatformName (connection tests), and the
// listings that tools use to look around.
std::unique_ptr<ClassInfo> makeDSAdminClass(Server &server) {
    auto cls = std::make_unique<ClassInfo>();
    cls->name = "DSAdmin";
    Server *srv = &server;

    cls->methods.push_back({"GetPlatformName",
                            {{"ReturnParameter", DataType::WideString, Direction::Return}},
                            [](void *, std::vector<json::Value> &) -> std::vector<json::Value> {
                                return {json::Value::string("win32")};
                            }});
    cls->methods.push_back({"ListClasses",
                            {{"ReturnParameter", DataType::JsonValue, Direction::Return}},
                            [srv](void *, std::vector<json::Value> &) -> std::vector<json::Value> {
                                json::Value names = json::Value::array();
                                for (const auto &p : srv->publishedClasses())
                                    names.items.push_back(json::Value::string(p.cls->name));
                                return {std::move(names)};
                            }});
    cls->methods.push_back({"ListMethods",
                            {{"ClassName", DataType::WideString, Direction::In},
                             {"ReturnParameter", DataType::JsonValue, Direction::Return}},
                            [srv](void *, std::vector<json::Value> &in) -> std::vector<json::Value> {
                                std::string wanted = stringArg(in.at(0));
                                json::Value names = json::Value::array();
                                for (const auto &p : srv->publishedClasses()) {
                                    bool same = p.cls->name.size() == wanted.size() &&
                                                std::equal(p.cls->name.begin(), p.cls->name.end(), wanted.begin(),
                                                           [](char a, char b) {
                                                               return std::toupper(static_cast<unsigned char>(a)) ==
                                                                      std::toupper(static_cast<unsigned char>(b));
                                                           });
                                    if (!same)
                                        continue;
                                    for (const auto &m : p.cls->methods)
                                        names.items.push_back(json::Value::string(p.cls->name + "." + m.name));
                                }
                                return {std::move(names)};
                            }});
    return cls;
}

} // namespace datasnap
