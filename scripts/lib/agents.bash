# shellcheck shell=bash disable=SC2034,SC2154 # the arrays are for the caller; $build and $scratch are its own
# Starts the three agents that scripts/try and scripts/prometheus watch, on 127.0.0.1 with free ports
# that each agent takes itself, each with its own random token; the third has a low disk threshold, so it shows a
# warning. Sourced; needs $build (the build folder) and $scratch (a temporary folder), and fills
# agent_ports, agent_tokens, agent_names and agent_pids. stop_agents ends them. Set agent_runner
# (e.g. "timeout 300") to bound the agents' lives even if the caller is killed.

agent_ports=()
agent_tokens=()
agent_names=("本机 A" "本机 B" "本机 C")
agent_pids=()

start_agents() {
  # Count a real unit where systemd runs; elsewhere there is nothing to count.
  local services='[]'
  [ -d /run/systemd/system ] && services='["systemd-journald.service"]'
  local thresholds=('{}' '{}' '{"disk": {"warning": 0, "critical": 1000}}')
  local i config
  for i in 0 1 2; do
    agent_tokens[i]=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    config="$scratch/agent-$((i + 1)).json"
    cat >"$config" <<JSON
{"listenAddress": "127.0.0.1", "token": "${agent_tokens[i]}", "services": $services,
 "thresholds": ${thresholds[i]}}
JSON
    chmod 600 "$config"
    # Port 0: the agent takes a free port as it binds and names it, so no other program can take it in
    # between, as it could if a port were found free first and used later.
    # shellcheck disable=SC2086 # agent_runner is a command and its arguments
    ${agent_runner:-} "$build/agent/vantor-agent" --config "$config" --port 0 >"$scratch/agent-$((i + 1)).log" 2>&1 &
    agent_pids+=($!)
  done

  # Each agent says when it listens, and where.
  local log
  for i in 0 1 2; do
    log="$scratch/agent-$((i + 1)).log"
    for _ in $(seq 50); do
      grep -q 'listening' "$log" && break
      kill -0 "${agent_pids[i]}" 2>/dev/null || break
      sleep 0.1
    done
    agent_ports[i]=$(sed -n 's/.*listening on [^ ]* port \([0-9]*\).*/\1/p' "$log" | head -n 1)
    if [ -z "${agent_ports[i]}" ]; then
      echo "$(basename "$0"): agent $((i + 1)) did not start:" >&2
      cat "$log" >&2
      return 1
    fi
  done
}

stop_agents() {
  local pid
  for pid in "${agent_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${agent_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  agent_pids=()
}
