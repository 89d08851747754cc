// The base of a database connection component: whether it is connected,
// the before/after connect and disconnect hooks, and the components that use
// it (its clients: commands and datasets, each with an optional callback
// told when the connection is made or dropped, in registration order).
#pragma once

#include "store/TComponent.h"

#include <functional>
#include <string>
#include <vector>

namespace vantelo {

class TDataSet;

class TCustomConnection : public TComponent {
public:
    // Told connecting = true after a connect, false before a disconnect.
    using TConnectChangeEvent = std::function<void(bool connecting)>;
    using TConnectionNotifyEvent = std::function<void(TCustomConnection&)>;

    explicit TCustomConnection(TComponent* owner = nullptr, std::string name = {});
    ~TCustomConnection() override;

    // Asked of the subclass.
    bool Connected() const { return GetConnected(); }
    // Connects (nothing happens when connected already; a failure is raised
    // and no client is told) or disconnects (nothing happens when not
    // connected).
    void SetConnected(bool connected);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // Adds a client (once; a second registration replaces its callback).
    void RegisterClient(TComponent* client, TConnectChangeEvent onConnectChange = {});
    // Removes a client; unknown clients are ignored.
    void UnRegisterClient(TComponent* client);
    size_t ClientCount() const { return clients_.size(); }
    TComponent* Client(size_t index) const { return clients_[index].component; }
    // The datasets among the clients, in registration order.
    std::vector<TDataSet*> DataSets() const;

    void SetBeforeConnect(TConnectionNotifyEvent handler) { beforeConnect_ = std::move(handler); }
    void SetAfterConnect(TConnectionNotifyEvent handler) { afterConnect_ = std::move(handler); }
    void SetBeforeDisconnect(TConnectionNotifyEvent handler) { beforeDisconnect_ = std::move(handler); }
    void SetAfterDisconnect(TConnectionNotifyEvent handler) { afterDisconnect_ = std::move(handler); }

protected:
    virtual bool GetConnected() const = 0;
    // Makes the connection; raises on failure.
    virtual void DoConnect() = 0;
    // Drops the connection; must not raise.
    virtual void DoDisconnect() = 0;
    // Tells every client, in registration order.
    void SendConnectEvent(bool connecting);

private:
    struct ClientEntry {
        TComponent* component;
        TConnectChangeEvent onConnectChange;
    };

    std::vector<ClientEntry> clients_;
    TConnectionNotifyEvent beforeConnect_;
    TConnectionNotifyEvent afterConnect_;
    TConnectionNotifyEvent beforeDisconnect_;
    TConnectionNotifyEvent afterDisconnect_;
};

}  // namespace vantelo
