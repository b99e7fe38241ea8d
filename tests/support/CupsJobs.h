#pragma once

// What the CUPS tests ask a scheduler: a job's attributes, the PDF cups-pdf
// wrote for it, and a printer surface on a named queue.

#include "printing/CupsPrinter.h"
#include "surface/PrinterSurface.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include <memory>
#include <string>

namespace raitakone::testing {

struct JobRecord {
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::string format, stateReasons, scaling, colourMode;
    int xres = 0, yres = 0;
};

inline JobRecord jobRecord(int id)
{
    JobRecord record;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 ("ipp://localhost/jobs/" + std::to_string(id)).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs/");
    const auto text = [response](const char* name, ipp_tag_t tag) {
        ipp_attribute_t* a = ippFindAttribute(response, name, tag);
        return a ? std::string(ippGetString(a, 0, nullptr)) : std::string();
    };
    if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM))
        record.state = ipp_jstate_t(ippGetInteger(a, 0));
    record.format = text("document-format", IPP_TAG_MIMETYPE);
    record.stateReasons = text("job-state-reasons", IPP_TAG_KEYWORD);
    record.scaling = text("print-scaling", IPP_TAG_KEYWORD);
    record.colourMode = text("print-color-mode", IPP_TAG_KEYWORD);
    ipp_res_t units;
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-resolution", IPP_TAG_RESOLUTION))
        record.xres = ippGetResolution(a, 0, &record.yres, &units);
    ippDelete(response);
    return record;
}

// The job once it has ended (completed, cancelled or aborted), waiting two minutes at most.
inline JobRecord finishedJob(int id)
{
    JobRecord record = jobRecord(id);
    for (int waited = 0; waited < 1200 && record.state < IPP_JSTATE_CANCELED; ++waited, QThread::msleep(100))
        record = jobRecord(id);
    return record;
}

// The PDF cups-pdf wrote for the job into out (job_ID-*.pdf) once it ends
// with %%EOF; empty when none has after two minutes.
inline QString cupsPdfOfJob(const QDir& out, int job)
{
    for (int waited = 0; waited < 1200; ++waited, QThread::msleep(100)) {
        const QStringList found = out.entryList({QString("job_%1-*.pdf").arg(job)}, QDir::Files);
        QFile file(found.isEmpty() ? QString() : out.filePath(found.first()));
        if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed().endsWith("%%EOF"))
            return file.fileName();
    }
    return {};
}

inline PrinterSurface::Connector cupsConnector(const std::string& name)
{
    return [name] { return std::make_unique<CupsPrinter>(name); };
}

} // namespace raitakone::testing
