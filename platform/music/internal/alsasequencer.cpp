// The ALSA sequencer behind SequencerBackend: one client of ours with one
// source port and one queue, on which messages are scheduled ahead of time in
// real time, so that the kernel sends each at its moment.
//
// Threads: one object is used by one thread at a time (its port serializes).
#include "sequencerbackend.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <sys/stat.h>

namespace music::internal {

SequencerBackend::~SequencerBackend() = default;

namespace {

constexpr std::size_t kOutputPool = 2000;

class AlsaSequencer final : public SequencerBackend
{
public:
    explicit AlsaSequencer(snd_seq_t* seq) : m_seq(seq)
    {
        m_self = snd_seq_client_id(m_seq);
        m_port = snd_seq_create_simple_port(
            m_seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        snd_midi_event_new(16, &m_encoder);
        if (m_encoder)
            snd_midi_event_no_status(m_encoder, 1);
    }

    ~AlsaSequencer() override
    {
        if (m_queue >= 0) {
            snd_seq_stop_queue(m_seq, m_queue, nullptr);
            snd_seq_drain_output(m_seq);
            snd_seq_free_queue(m_seq, m_queue);
        }
        if (m_encoder)
            snd_midi_event_free(m_encoder);
        snd_seq_close(m_seq);
    }

    std::vector<SequencerPortInfo> ports() override
    {
        std::vector<SequencerPortInfo> found;
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(m_seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            if (id == m_self || id == SND_SEQ_CLIENT_SYSTEM)
                continue;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(m_seq, port) >= 0) {
                const unsigned caps = snd_seq_port_info_get_capability(port);
                if (caps & SND_SEQ_PORT_CAP_NO_EXPORT)
                    continue;
                SequencerPortInfo info;
                info.client = id;
                info.port = snd_seq_port_info_get_port(port);
                info.clientName = snd_seq_client_info_get_name(client);
                info.portName = snd_seq_port_info_get_name(port);
                info.acceptsEvents =
                    (caps & SND_SEQ_PORT_CAP_WRITE) && (caps & SND_SEQ_PORT_CAP_SUBS_WRITE);
                found.push_back(std::move(info));
            }
        }
        return found;
    }

    bool portExists(int client, int port) override
    {
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca(&info);
        return snd_seq_get_any_port_info(m_seq, client, port, info) >= 0;
    }

    bool startQueue() override
    {
        if (m_queue >= 0)
            return true;
        m_queue = snd_seq_alloc_named_queue(m_seq, "Brisolde");
        if (m_queue < 0)
            return false;
        snd_seq_start_queue(m_seq, m_queue, nullptr);
        snd_seq_drain_output(m_seq);
        return true;
    }

    std::int64_t queueTime() override
    {
        if (m_queue < 0)
            return 0;
        snd_seq_queue_status_t* status = nullptr;
        snd_seq_queue_status_alloca(&status);
        if (snd_seq_get_queue_status(m_seq, m_queue, status) < 0)
            return 0;
        const snd_seq_real_time_t* t = snd_seq_queue_status_get_real_time(status);
        return std::int64_t(t->tv_sec) * 1000000 + t->tv_nsec / 1000;
    }

    Sent sendAt(int client, int port, std::int64_t time,
                std::span<const std::uint8_t> message) override
    {
        snd_seq_event_t ev;
        if (m_queue < 0 || !encode(message, ev))
            return Sent::Refused;
        snd_seq_ev_set_dest(&ev, std::uint8_t(client), std::uint8_t(port));
        snd_seq_real_time_t when{unsigned(time / 1000000), unsigned((time % 1000000) * 1000)};
        snd_seq_ev_schedule_real(&ev, static_cast<unsigned char>(m_queue), 0, &when);
        return output(ev);
    }

    Sent sendDirect(int client, int port, std::span<const std::uint8_t> message) override
    {
        snd_seq_event_t ev;
        if (!encode(message, ev))
            return Sent::Refused;
        snd_seq_ev_set_dest(&ev, std::uint8_t(client), std::uint8_t(port));
        snd_seq_ev_set_direct(&ev);
        return output(ev);
    }

    void dropQueued() override
    {
        snd_seq_drop_output(m_seq);
        if (m_queue < 0)
            return;
        snd_seq_remove_events_t* remove = nullptr;
        snd_seq_remove_events_alloca(&remove);
        snd_seq_remove_events_set_queue(remove, m_queue);
        snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT);
        snd_seq_remove_events(m_seq, remove);
    }

private:
    bool encode(std::span<const std::uint8_t> message, snd_seq_event_t& ev)
    {
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, std::uint8_t(m_port));
        if (message.empty())
            return false;
        if (message[0] == 0xF0) {
            snd_seq_ev_set_sysex(&ev, unsigned(message.size()),
                                 const_cast<std::uint8_t*>(message.data()));
            return true;
        }
        if (!m_encoder)
            return false;
        snd_midi_event_reset_encode(m_encoder);
        for (std::uint8_t byte : message) {
            if (snd_midi_event_encode_byte(m_encoder, byte, &ev) == 1)
                return ev.type != SND_SEQ_EVENT_NONE;
        }
        return false;
    }

    // Straight to the kernel, past libasound's output buffer, so that an event
    // is either with the kernel or refused: nothing waits in between for a
    // drain that might never come.
    Sent output(snd_seq_event_t& ev)
    {
        const int result = snd_seq_event_output_direct(m_seq, &ev);
        if (result >= 0)
            return Sent::Yes;
        return result == -EAGAIN ? Sent::Full : Sent::Refused;
    }

    snd_seq_t* m_seq;
    snd_midi_event_t* m_encoder = nullptr;
    int m_self = -1;
    int m_port = -1;
    int m_queue = -1;
};

} // namespace

std::unique_ptr<SequencerBackend> openAlsaSequencer(const char* clientName)
{
    struct stat st
    {
    };
    if (::stat("/dev/snd/seq", &st) != 0)
        return nullptr;
    snd_seq_t* seq = nullptr;
    // Non-blocking: a full queue is reported, never waited for.
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
        return nullptr;
    snd_seq_set_client_name(seq, clientName);
    // The largest queue the kernel allows a client, so that the events of a
    // dense passage can be well ahead of their time.
    snd_seq_set_client_pool_output(seq, kOutputPool);
    return std::make_unique<AlsaSequencer>(seq);
}

} // namespace music::internal
