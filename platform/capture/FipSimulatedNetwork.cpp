#include "FipSimulatedNetwork.h"

#include <mutex>

namespace {

std::mutex& currentMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<FipSimulatedNetwork>& currentNetwork()
{
    static std::shared_ptr<FipSimulatedNetwork> network;
    return network;
}

} // namespace

FipSimulatedNetwork::~FipSimulatedNetwork() = default;

bool FipSimulatedNetwork::takeMessage(Message*)
{
    return false;
}

void FipSimulatedNetwork::setCurrent(const std::shared_ptr<FipSimulatedNetwork>& network)
{
    std::lock_guard<std::mutex> lock(currentMutex());
    currentNetwork() = network;
}

void FipSimulatedNetwork::withdraw(const FipSimulatedNetwork* network)
{
    std::lock_guard<std::mutex> lock(currentMutex());
    if (currentNetwork().get() == network)
        currentNetwork().reset();
}

std::shared_ptr<FipSimulatedNetwork> FipSimulatedNetwork::current()
{
    std::lock_guard<std::mutex> lock(currentMutex());
    return currentNetwork();
}
