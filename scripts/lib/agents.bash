# shellcheck shell=bash disable=SC2034,SC2154 # the arrays are for the caller; $build and $scratch are its own
# Starts the three agents that scripts/try and scripts/prometheus watch, on 127.0.0.1 with ports from
# 19101 upwards, each with its own random token; the third has a low disk threshold, so it shows a
# warning. Sourced; needs $build (the build folder) and $scratch (a temporary folder), and fills
# agent_ports, agent_tokens, agent_names and agent_pids. stop_agents ends them. Set agent_runner
# (e.g. "timeout 300") to bound the agents' lives even if the caller is killed.

agent_ports=()
agent_tokens=()
agent_names=("本机 A" "本机 B" "本机 C")
agent_pids=()

port_is_free() {
  [ -z "$(ss -Htln "sport = :$1" 2>/dev/null)" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# free_ports FIRST LAST COUNT: prints COUNT free loopback ports between FIRST and LAST.
free_ports() {
  local found=0 port
  for ((port = $1; port <= $2 && found < $3; port++)); do
    if port_is_free "$port"; then
      echo "$port"
      found=$((found + 1))
    fi
  done
}

start_agents() {
  mapfile -t agent_ports < <(free_ports 19101 19199 3)
  if [ ${#agent_ports[@]} -lt 3 ]; then
    echo "$(basename "$0"): no three free ports between 19101 and 19199" >&2
    return 1
  fi
  # Count a real unit where systemd runs; elsewhere there is nothing to count.
  local services='[]'
  [ -d /run/systemd/system ] && services='["systemd-journald.service"]'
  local thresholds=('{}' '{}' '{"disk": {"warning": 0, "critical": 1000}}')
  local i config
  for i in 0 1 2; do
    agent_tokens[i]=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    config="$scratch/agent-$((i + 1)).json"
    cat >"$config" <<JSON
{"listenAddress": "127.0.0.1", "port": ${agent_ports[i]}, "token": "${agent_tokens[i]}",
 "services": $services, "thresholds": ${thresholds[i]}}
JSON
    chmod 600 "$config"
    # shellcheck disable=SC2086 # agent_runner is a command and its arguments
    ${agent_runner:-} "$build/agent/vantor-agent" --config "$config" >"$scratch/agent-$((i + 1)).log" 2>&1 &
    agent_pids+=($!)
  done

  # Each agent says when it listens.
  local log
  for i in 0 1 2; do
    log="$scratch/agent-$((i + 1)).log"
    for _ in $(seq 50); do
      grep -q 'listening' "$log" && break
      kill -0 "${agent_pids[i]}" 2>/dev/null || break
      sleep 0.1
    done
    if ! grep -q 'listening' "$log"; then
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
