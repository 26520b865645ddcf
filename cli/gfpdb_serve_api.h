// The JSON API of `gfpdb serve`: every answer is built from the library's own records, labels,
// value lists and validators, and every change goes through the manager's save and delete.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/gfpdb_cli.h"

namespace gfpdb_cli {

struct API_REQUEST {
    std::vector<std::string> path;  // the parts of the path the route captured
    std::map<std::string, std::string> query;
    JSON body;  // null when the request has none
};

struct API_REPLY {
    int status;
    JSON body;
};

struct BUILT_FLOWS;  // operations a request described, before a record takes them

// One server's view of the database. Not thread-safe: the server calls it under one lock, as
// the library is used from one thread at a time.
class API {
public:
    explicit API(SESSION& session) : m_session(session) {}

    API_REPLY families(const API_REQUEST& request);
    API_REPLY vocabulary(const API_REQUEST& request);
    API_REPLY devices(const API_REQUEST& request);
    API_REPLY device(const API_REQUEST& request);
    API_REPLY create_device(const API_REQUEST& request);
    API_REPLY save_device(const API_REQUEST& request);
    API_REPLY delete_device(const API_REQUEST& request);
    API_REPLY templates(const API_REQUEST& request);
    API_REPLY template_flows(const API_REQUEST& request);
    API_REPLY create_template(const API_REQUEST& request);
    API_REPLY save_template(const API_REQUEST& request);
    API_REPLY delete_template(const API_REQUEST& request);
    API_REPLY validate(const API_REQUEST& request);
    API_REPLY lint(const API_REQUEST& request);

    // Routes the messages the library posts during a request to this API.
    void begin();
    void end();

    // A refusal: {"error": {"message", "id"}} with the catalogue id when the library gave one.
    static API_REPLY refuse(int status, const std::string& message, const JSON& id = nullptr);

    struct VERDICT {
        bool ok;
        std::string message;
        JSON id;  // the catalogue id the library posted with its refusal
    };

private:
    VERDICT ask(const std::function<bool(std::string*)>& validator);
    // A save or delete the library refused, with the message it posted.
    API_REPLY refused_change(const std::string& what) const;
    VERDICT check_parameter(GFPDB_MGR* manager, const std::string& key, const JSON& value);
    VERDICT check_property(GFPDB_ACT_PROPERTY property, const std::string& value);
    JSON device_json(GFPDB_MGR* manager, const std::string& name);
    // A record's parameters and flows, each action with its lint findings, and the findings
    // that concern no one action.
    JSON record_json(GFPDB_MGR* manager, GFPDB_FLASH* flash);
    // Every value of a device body, checked; the refused fields, none when it may be saved.
    // `copied` tells that the flows came from the template, not from the body.
    JSON check_device(GFPDB_MGR* manager, const std::string& name, const JSON& body, bool new_name,
                      BUILT_FLOWS& built, bool* copied);
    API_REPLY store_device(const std::string& name, const JSON& body, bool replacing);
    API_REPLY create_from_sfdp(const JSON& body);
    API_REPLY save_template_flows(const API_REQUEST& request, const std::string& name,
                                  bool replace);
    std::string folder_for(const JSON& body, std::string* problem) const;

    SESSION& m_session;
    std::vector<POSTED> m_posted;
};

}  // namespace gfpdb_cli
