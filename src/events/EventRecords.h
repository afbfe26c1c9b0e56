// Every event record class, for the serialiser and for producers that make
// several kinds.
#pragma once

#include "events/AgentRecords.h"
#include "events/AnalysisRecords.h"
#include "events/ClassRecord.h"
#include "events/EventRecord.h"
#include "events/MethodEventRecord.h"
#include "events/PortalRecords.h"
#include "events/ReportRecords.h"
#include "events/RequestRecord.h"
#include "events/ResourceRecords.h"
