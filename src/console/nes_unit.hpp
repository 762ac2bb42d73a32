// NESUnit is one console: it owns the cartridge, the CPU, the PPU, the APU and two
// built-in controllers, wires them together and steps them. The step is the unit of
// time of the whole emulator: one CPU instruction, then the APU (one step per two CPU
// cycles) and the PPU (three dots per CPU cycle) catch up with it. They catch up lazily,
// in long runs: only when the CPU is about to touch them, or when they are due to
// change something the CPU sees unasked (NMI, IRQ, the end of a frame); the results are
// those of catching up after every instruction.
//
// A console is stepped either by a caller (runFrame) or by its own run thread, which
// paces the emulated clock against the host's. Stepping is an exclusive claim: one
// stepper at a time holds it, and whoever cannot take it is refused with
// std::runtime_error and changes nothing. The run thread holds it while it steps and
// gives it back whenever it parks; resumed, it waits for a caller that holds the claim
// to finish. Saving and loading a state and writing battery RAM take the claim too, so
// they never overlap a step. The per-frame callable runs on the stepping thread with the
// claim held: the methods it calls on its own console act between frames and never wait
// for themselves (see start, stop, set_pause).
//
// Between the threads only the run-thread flags and times below, the claim, the
// controller buttons, the published picture and the published sound block are shared;
// everything else belongs to the claim's holder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "apu/apu.hpp"
#include "cartridge/rom.hpp"
#include "console/accuracy.hpp"
#include "cpu/controller.hpp"
#include "cpu/cpu.hpp"
#include "persistence/snapshot.hpp"
#include "ppu/ppu.hpp"

class NESUnit {
public:
    // A console with the built-in blank cartridge.
    explicit NESUnit(int speed, NES::Accuracy accuracy = NES::Accuracy::fast);
    // A console built from an iNES file. A file that cannot be read raises
    // NES::FileError and a malformed image std::invalid_argument, both before any
    // save folder is made.
    NESUnit(char const* rom_name, int speed, NES::Accuracy accuracy = NES::Accuracy::fast);
    // A console built from an iNES image in memory; `name` names the save folder as a
    // cartridge path would. Refuses a malformed image as the file constructor does.
    NESUnit(std::string const& name, unsigned char const* image, size_t size, int speed,
            NES::Accuracy accuracy = NES::Accuracy::fast);
    // Virtual so that a console handed to its run thread (hand_over_to_run_thread) is
    // destroyed whole, as whatever class it was built as.
    virtual ~NESUnit();
    NESUnit(NESUnit const&) = delete;
    NESUnit& operator=(NESUnit const&) = delete;

    using FrameCallback = std::function<void()>;

    // Called once per completed frame, on whichever thread steps. Held through a shared
    // pointer: the caller keeps its own reference while it calls, so replacing the
    // callable never frees one that is in use. Guarded by callback_mutex, which is held
    // only to copy or swap the pointer, never while calling.
    std::shared_ptr<FrameCallback const> perframefunc =
        std::make_shared<FrameCallback const>([] {});
    std::string save_dir; // where save-state files go
    // This console's cartridge folder, fixed when it is built: its battery RAM lives
    // here, whatever consoles are built after it.
    std::string config_dir;
    NES::Controller controller1;
    NES::Controller controller2;
    std::unique_ptr<NES::CPU> cpu;
    std::unique_ptr<NES::PPU> ppu;
    std::unique_ptr<NES::APU> apu;
    std::unique_ptr<NES::ROM> rom;
    std::atomic<bool> running{false}; // the run thread keeps stepping while set
    std::atomic<bool> paused{false};  // the run thread does not step while set
    std::thread run_thread;

    // One instruction, with the APU and the PPU caught up with it.
    void single_cycle();
    // Brings the APU and the PPU to the CPU's cycle count, calling the per-frame callable
    // at the end of every frame on the way.
    void catch_up();
    // One instruction, leaving the APU and the PPU behind unless the CPU could now tell
    // (see NES::CPU): runFrame and the run thread step this way, and catch up fully
    // before they hand the console back.
    void step_lazily();
    void runFrame();
    // `count` frames under one claim (runFrame's rules); the Python binding releases the
    // interpreter lock meanwhile. std::invalid_argument for a negative count.
    void runFrames(int64_t count);
    // As runFrames, but ends early once `stop` is set (read between frames, by any
    // thread), after a whole frame and with the console caught up; the frames run.
    int64_t run_frames_until(int64_t count, std::atomic<bool> const& stop);
    int64_t cycle_count() const { return cpu->cycles; }
    NES::Accuracy accuracy() const { return mode; }
    // The cartridge's mapper number, and whether a board of its own emulates it: any
    // other number loads with nothing mapped.
    uint32_t mapper_number() const;
    bool board_emulated() const;
    // The reset button: the CPU runs its reset sequence (registers kept but S down by 3
    // and I set, PC from the reset vector), the PPU and the APU take their reset lines,
    // RAM and the boards' registers stay. The clocks run on through it. Takes the claim
    // as runFrame does, but may be pressed from the per-frame callable.
    void press_reset();
    int64_t frame_count() const { return int64_t(ppu->frame_count); }
    // Plugs a controller into port 0 ($4016) or 1 ($4017); any other port number is
    // refused with std::invalid_argument. The console does not own the controller.
    void setController(NES::Controller& controller, int port);

    // The run thread. start() refuses a second thread; stop() ends the thread, waits
    // for it, writes battery RAM, and refuses (after writing) when there was no thread.
    // set_pause(true) returns once the thread has finished the step it was in. The
    // three are serialised per console. Called from this console's per-frame callable
    // they never wait for the thread that calls them: start refuses, stop and
    // set_pause(true) take effect when the callable returns (stop then writes battery
    // RAM from the run thread as it ends).
    void start();
    void stop();
    void set_pause(bool pause);
    void perFrame(FrameCallback const& callback);
    void operation_thread();
    // When (host clock, ns) the run thread is due to have run `cycles` more than it had
    // at `origin_ns`.
    static int64_t pace_target_ns(int64_t cycles, int32_t clock_speed, int64_t origin_ns);
    // Ends the run thread if there is one and waits for it; nothing else. On the run
    // thread itself it only asks the thread to end.
    void halt();
    // True while the run thread exists and is meant to step (started, not paused, not
    // ended): other steppers are refused then, whether or not it holds the claim yet.
    bool stepping();
    // True on the run thread of this console.
    bool on_run_thread() const { return run_thread_id.load() == std::this_thread::get_id(); }
    // For an owner that lets go of the console on its own run thread (a per-frame
    // callable that drops the last reference): the thread finishes its step, ends, and
    // then destroys the console itself.
    void hand_over_to_run_thread();
    // Waits until every handed-over console is destroyed.
    static void wait_for_handed_over_threads();

    // The stepping claim.
    enum class Stepper : uint8_t { nobody, caller, run_thread };
    // True when this thread holds the claim, which on any thread but the run thread
    // means inside a per-frame callable called by runFrame.
    bool claim_held_here() const { return claim_thread.load() == std::this_thread::get_id(); }
    // Takes the claim for a caller or refuses with std::runtime_error naming `what`.
    // Sharing allows a method called from the per-frame callable (this thread holds the
    // claim already) to go on; otherwise that is refused too.
    enum class Reentry : bool { refuse, share };
    class CallerClaim {
    public:
        CallerClaim(NESUnit& unit, char const* what, Reentry reentry);
        ~CallerClaim();
        CallerClaim(CallerClaim const&) = delete;
        CallerClaim& operator=(CallerClaim const&) = delete;

    private:
        NESUnit& unit;
        bool taken = false;
    };

    // Save states in the save folder, one file per slot, and in memory: the same record
    // of state_size() bytes (NES::CPU::STATE_SIZE and the board's trailer).
    // restore_state changes nothing and returns false unless the record is usable, as
    // load does for a file.
    void save(int slot);
    bool load(int slot);
    size_t state_size() const;
    void take_state(unsigned char* record);
    bool restore_state(unsigned char const* record, size_t size);
    std::string state_path(int slot) const;

    // Snapshots: the complete state of the console (persistence/snapshot.hpp), from which
    // a console of the same cartridge continues exactly as this one would. Both take the
    // claim as the state calls do; restore_snapshot changes nothing unless it restores.
    enum class SnapshotVerdict {
        restored,
        not_a_snapshot,
        other_version,
        other_cartridge,
        other_accuracy,
        damaged
    };
    // `layout`, when given, receives where each field lies in the snapshot; `picture`
    // says whether the finished picture is part of it.
    std::vector<unsigned char> take_snapshot(std::vector<NES::Snapshot::Span>* layout = nullptr,
                                             bool picture = true);
    // The length of the snapshot the console would give now, and a snapshot written into
    // the `capacity` bytes at `out`: its length, or 0 when it does not fit (the bytes
    // at `out` are then undefined).
    size_t snapshot_size(bool picture = true);
    size_t write_snapshot(unsigned char* out, size_t capacity, bool picture = true);
    SnapshotVerdict restore_snapshot(unsigned char const* data, size_t size);
    // Loads without a single check: only for a snapshot that this process has just taken
    // of a console of the same cartridge and mode (the batch stepper's clones), where
    // the checks would only cost time.
    void load_trusted_snapshot(unsigned char const* data, size_t size);
    // The format version a snapshot names (none when the data is no snapshot), the
    // accuracy mode of a format this version reads, and the format this version writes.
    static std::optional<uint32_t> snapshot_version(unsigned char const* data, size_t size);
    static std::optional<NES::Accuracy> snapshot_accuracy(unsigned char const* data, size_t size);
    static uint32_t snapshot_format_version(NES::Accuracy accuracy);
    // Seals a snapshot edited on purpose (by the fuzzer) with its check value anew, so
    // that the edit reaches the checks behind it.
    static void seal_snapshot(std::vector<unsigned char>& snapshot);
    // What the console was built from, to build another like it: the name that names the
    // save folder (empty for the blank cartridge) and the cartridge's iNES image.
    std::string const& cartridge_name() const { return built_from; }
    bool blank_cartridge() const { return !built_from_image; }

    // Save folders and battery RAM.
    void detectOS(char const* path);
    bool setSaveDir(std::string dir);
    std::string getSaveDir() const { return save_dir; }
    std::string battery_ram_path() const;
    // Writes the battery RAM of a battery-backed cartridge so that a failed write (a
    // full disk) never costs the previous save: the bytes go to a temporary file in the
    // same folder, which then replaces the old file in one rename.
    void write_battery_ram();
    // The battery RAM written now, without stopping anything: true when the cartridge
    // has a battery (and so a file was written), false otherwise. Refused while another
    // thread steps, as the state calls are.
    bool save_battery();

private:
    template <class Pass> void visit_chips(Pass& s);
    // The magic, the format version, the parts and the cartridge identity.
    void write_header(unsigned char* out, bool picture) const;
    std::string built_from;
    bool built_from_image = false;

    void build_from_image(std::string const& name, unsigned char const* image, size_t size,
                          int speed, NES::Accuracy accuracy);
    void build_parts(int speed, NES::Accuracy accuracy);
    // Returns the frames run: `count`, or fewer when `stop` (if any) was set.
    int64_t step_frames(int64_t count, std::atomic<bool> const* stop = nullptr);
    // One instruction in hardware mode, with the frame's end and its callable after it.
    void step_exactly();
    // Calls the per-frame callable for every frame the PPU completed since the last call.
    void finish_frames();
    NES::Accuracy mode = NES::Accuracy::fast;
    uint64_t frames_seen = 0; // the PPU's frame count at the last finish_frames
    void attach_cartridge();
    void power_on();
    // Hardware mode: the APU and the PPU brought to where the CPU stands.
    void sync_devices();
    bool try_claim(Stepper who);
    void give_back_claim();
    // Waits (without a time limit) until the claim is free and takes it; for stop and
    // start, which must not overlap a step but need not refuse one.
    void wait_for_claim();
    // Gives back a claim already taken when it goes out of scope.
    class HeldClaim {
    public:
        explicit HeldClaim(NESUnit& unit) : unit(unit) {}
        ~HeldClaim() { unit.give_back_claim(); }
        HeldClaim(HeldClaim const&) = delete;
        HeldClaim& operator=(HeldClaim const&) = delete;

    private:
        NESUnit& unit;
    };
    // The run thread's life (operation_thread): wait for its turn, step while it may, end.
    bool wait_for_turn();
    void step_while_running();
    void finish_run_thread();
    void park(std::unique_lock<std::mutex>& lock);
    void begin_pacing();
    void pace_past_frame();
    void throttle();
    void join_run_thread();
    // Tells the run thread to end; true when it was meant to run until now.
    bool end_running();
    void set_pause_flags(bool pause);
    void stop_from_callable();

    std::shared_ptr<FrameCallback const> frame_callback();
    std::mutex callback_mutex;

    // Parking and waking the run thread.
    std::mutex run_mutex;
    std::condition_variable run_signal;
    bool parked = false;        // the run thread is waiting in a pause
    bool thread_active = false; // the run thread has not returned yet
    // The run thread's pace (see run_thread.cpp), the run thread's alone: the host time
    // (steady clock, ns) at which the CPU is due at pace_cycles, and the frames completed
    // when that was last worked out.
    int64_t pace_origin_ns = 0;
    int64_t pace_cycles = 0;
    uint64_t paced_frames = 0;
    std::atomic<std::thread::id> run_thread_id{};
    // Set by stop from the per-frame callable: the run thread writes battery RAM as it ends.
    std::atomic<bool> battery_write_at_end{false};
    // Set when the owner handed the console to its run thread, which destroys it.
    std::atomic<bool> handed_over{false};

    // Frames completed by this console's steps since it was built; belongs to the
    // claim's holder. Unlike the PPU's frame count it never goes back.
    uint64_t frames_completed = 0;
    // The CPU's cycle count as the last frame completed, before its per-frame callable
    // (which may restore a snapshot) ran; belongs to the claim's holder.
    int64_t frame_end_cycles = 0;

    // Serialises start, stop, set_pause and halt called from outside the stepping.
    std::mutex control_mutex;

    // The claim: who holds it, and on which thread (cleared before the claim is given
    // back, so a thread never mistakes another's claim for its own).
    std::atomic<Stepper> stepper{Stepper::nobody};
    std::atomic<std::thread::id> claim_thread{};
    // Threads waiting for the claim (stop, start, a resumed run thread); callers are
    // refused while there are any. Changed under run_mutex.
    std::atomic<int> claim_waiters{0};
};
