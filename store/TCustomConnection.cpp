#include "store/TCustomConnection.h"

#include "store/TDataSet.h"

#include <algorithm>

namespace vantelo {

TCustomConnection::TCustomConnection(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TCustomConnection::~TCustomConnection() = default;

void TCustomConnection::SetConnected(bool connected)
{
    if (connected) {
        if (Connected())
            return;
        if (beforeConnect_)
            beforeConnect_(*this);
        DoConnect();
        SendConnectEvent(true);
        if (afterConnect_)
            afterConnect_(*this);
    } else {
        if (!Connected())
            return;
        if (beforeDisconnect_)
            beforeDisconnect_(*this);
        SendConnectEvent(false);
        DoDisconnect();
        if (afterDisconnect_)
            afterDisconnect_(*this);
    }
}

void TCustomConnection::RegisterClient(TComponent* client, TConnectChangeEvent onConnectChange)
{
    for (ClientEntry& entry : clients_)
        if (entry.component == client) {
            entry.onConnectChange = std::move(onConnectChange);
            return;
        }
    clients_.push_back({client, std::move(onConnectChange)});
}

void TCustomConnection::UnRegisterClient(TComponent* client)
{
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [&](const ClientEntry& entry) { return entry.component == client; }),
                   clients_.end());
}

std::vector<TDataSet*> TCustomConnection::DataSets() const
{
    std::vector<TDataSet*> dataSets;
    for (const ClientEntry& entry : clients_)
        if (auto* dataSet = dynamic_cast<TDataSet*>(entry.component))
            dataSets.push_back(dataSet);
    return dataSets;
}

void TCustomConnection::SendConnectEvent(bool connecting)
{
    // By index, on a copy of the callback: a client may unregister meanwhile.
    for (size_t i = 0; i < clients_.size(); ++i) {
        TConnectChangeEvent callback = clients_[i].onConnectChange;
        if (callback)
            callback(connecting);
    }
}

}  // namespace vantelo
