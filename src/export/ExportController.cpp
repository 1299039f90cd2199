#include "export/ExportController.h"

#include "export/CapturedPageProcessor.h"
#include "export/ExportLifecycle.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "export/MessageDispatcher.h"
#include "export/RequestExchange.h"
#include "export/ScrollOrchestrator.h"
#include "export/SessionWatchdog.h"

ExportController::ExportController(ExportShell* shell, ExportServices services, ExportTimings timings)
    : services_(std::move(services))
    , runtime_(std::make_unique<ExportRuntime>(shell, timings))
    , state_(std::make_unique<ExportSessionState>())
    , results_(std::make_unique<ExportResults>(*runtime_, *state_, services_.history))
    , exchange_(std::make_unique<RequestExchange>(*runtime_, *state_))
    , watchdog_(std::make_unique<SessionWatchdog>(*runtime_, *state_, *results_, services_.chunks))
    , processor_(std::make_unique<CapturedPageProcessor>(*runtime_, *state_, *results_, *watchdog_, services_))
    , scroll_(std::make_unique<ScrollOrchestrator>(*runtime_, *state_, *exchange_, *results_, *watchdog_))
    , lifecycle_(std::make_unique<ExportLifecycle>(*runtime_, *state_, *results_, *watchdog_, *scroll_, services_.vault))
    , dispatcher_(std::make_unique<MessageDispatcher>(*runtime_, *state_, *exchange_, *lifecycle_, *processor_,
          *results_, *watchdog_, services_))
{
}

ExportController::~ExportController()
{
    shutdown();
}

void ExportController::setWebSocketServer(WebSocketServer* server)
{
    runtime_->setWebSocketServer(server);
}

void ExportController::shutdown()
{
    runtime_->shutdown();
}
